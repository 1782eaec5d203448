#include "sim/SimFixture.h"

using namespace simtest;

namespace {

class SimFault : public SimFixture {};

// The header the backup reply for data set `id` announces, by default sizes.
std::string backupHeader(int id) {
    return dataFrame(id, std::string(kDefaultSizes[id], '\0')).substr(0, 7);
}

} // namespace

TEST_F(SimFault, NoReplyLeavesTheConnectionOpenAndReadsOn) {
    startSim({"--fault", "noreply:7:1"});
    RawClient client;
    connect(&client);
    ASSERT_TRUE(client.send(fromHex("01 07 00")));
    EXPECT_EQ(client.receive(1, 300), "");
    EXPECT_EQ(toHex(exchange(&client, "01 07 00", 3)), "01 08 6b");
    EXPECT_EQ(m_sim.frames().size(), 2u);
}

TEST_F(SimFault, LateReplyComesAfterItsDelay) {
    startSim({"--fault", "late:0:1:400"});
    RawClient client;
    connect(&client);
    ASSERT_TRUE(client.send(fromHex("01 00 03")));
    EXPECT_EQ(client.receive(1, 250), "");
    EXPECT_EQ(client.receive(7 + 16, 1000), dataFrame(3, m_sim.dataSet("SystemTimeConfig")));
}

TEST_F(SimFault, TruncateSendsHeaderAndKBytesThenNothingMore) {
    startSim({"--fault", "truncate:0:1:10"});
    std::string set = m_sim.dataSet("UserManagerConfig");
    RawClient client;
    connect(&client);
    ASSERT_TRUE(client.send(fromHex("01 00 00")));
    EXPECT_EQ(toHex(client.receive(7 + 11, 400)), toHex(backupHeader(0) + set.substr(0, 10)));
    ASSERT_TRUE(client.send(fromHex("01 07 00")));
    std::string after;
    EXPECT_FALSE(client.waitForClose(300, &after)) << "the connection stays open";
    EXPECT_EQ(after, "") << "and silent";
    client.close();

    RawClient next;
    connect(&next);
    EXPECT_EQ(exchange(&next, "01 00 00", 7 + set.size()), dataFrame(0, set));
}

TEST_F(SimFault, ErrorReplacesTheReplyAndCountsAcrossConnections) {
    startSim({"--fault", "error:1:2:2", "--fault", "error:7:1"});
    RawClient client;
    connect(&client);
    EXPECT_EQ(toHex(exchange(&client, "01 07 00", 7)), "01 02 01 00 00 00 00");
    ASSERT_TRUE(client.send(dataFrame(3, "aa")));
    EXPECT_EQ(toHex(client.receive(7, 1000)), "01 02 00 00 00 00 00");
    client.close();

    RawClient next;
    connect(&next);
    ASSERT_TRUE(next.send(dataFrame(3, "bb")));
    EXPECT_EQ(toHex(next.receive(7, 1000)), "01 02 02 00 00 00 00");
    EXPECT_EQ(m_sim.dataSet("SystemTimeConfig"), "aa") << "a refused restore changes nothing";
}

TEST_F(SimFault, CloseCutsTheReplyAfterKBytes) {
    startSim({"--fault", "close:0:1:5"});
    RawClient client;
    connect(&client);
    ASSERT_TRUE(client.send(fromHex("01 00 01")));
    std::string before;
    EXPECT_TRUE(client.waitForClose(1000, &before));
    EXPECT_EQ(toHex(before), toHex(backupHeader(1).substr(0, 5)));

    RawClient next;
    connect(&next);
    EXPECT_EQ(toHex(exchange(&next, "01 07 00", 3)), "01 08 6b");
}

TEST_F(SimFault, GarbageAnswersWithTheNextDataId) {
    startSim({"--fault", "garbage:0:2"});
    std::string set = m_sim.dataSet("ConfigManager");
    RawClient client;
    connect(&client);
    EXPECT_EQ(exchange(&client, "01 00 01", 7 + set.size()), dataFrame(1, set));
    EXPECT_EQ(exchange(&client, "01 00 01", 7 + set.size()), dataFrame(2, set));
}
