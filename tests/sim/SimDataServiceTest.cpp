#include "sim/SimFixture.h"

#include <chrono>
#include <set>
#include <thread>

using namespace simtest;

namespace {

const std::string kRestoreAck = "01 02 00 00 00 00 00";
const std::string kUnknownError = "01 02 01 00 00 00 00";

class SimDataService : public SimFixture {
protected:
    std::string backup(RawClient* client, int id, size_t expectedSize) {
        return exchange(client, "01 00 0" + std::to_string(id), 7 + expectedSize);
    }

    std::string restore(RawClient* client, int id, const std::string& data, size_t replySize = 7) {
        EXPECT_TRUE(client->send(dataFrame(id, data)));
        return toHex(client->receive(replySize, 1000));
    }
};

} // namespace

TEST_F(SimDataService, AnswersVersionPasswordAndCloseAndLogsEveryFrame) {
    startSim();
    RawClient client;
    connect(&client);
    EXPECT_EQ(toHex(exchange(&client, "01 07 00", 3)), "01 08 6b");
    EXPECT_EQ(toHex(exchange(&client, "01 09 04 07 00 00 00 " + toHex("service"), 3)), "01 0a 01");
    EXPECT_EQ(toHex(exchange(&client, "01 09 04 05 00 00 00 " + toHex("wrong"), 3)), "01 0a 00");
    // The one-byte placeholder of an empty password is compared like any text.
    EXPECT_EQ(toHex(exchange(&client, "01 09 04 01 00 00 00 20", 3)), "01 0a 00");
    EXPECT_EQ(toHex(exchange(&client, "01 03 00", 3)), "01 06 00");
    std::string before;
    EXPECT_FALSE(client.waitForClose(200, &before)) << "the client closes, not the controller";
    EXPECT_EQ(before, "");

    std::vector<std::string> expected = {
        "01 07 00",
        "01 09 04 07 00 00 00 73 65 72 76 69 63 65",
        "01 09 04 05 00 00 00 77 72 6f 6e 67",
        "01 09 04 01 00 00 00 20",
        "01 03 00",
    };
    EXPECT_EQ(m_sim.frames(), expected);
    EXPECT_TRUE(m_sim.frames(11575).empty());
}

TEST_F(SimDataService, ReportsTheConfiguredVersionAndPassword) {
    startSim({"--interface-version", "104", "--password", "s3cret"});
    RawClient client;
    connect(&client);
    EXPECT_EQ(toHex(exchange(&client, "01 07 00", 3)), "01 08 68");
    EXPECT_EQ(toHex(exchange(&client, "01 09 04 07 00 00 00 " + toHex("service"), 3)), "01 0a 00");
    EXPECT_EQ(toHex(exchange(&client, "01 09 04 06 00 00 00 " + toHex("s3cret"), 3)), "01 0a 01");
}

TEST_F(SimDataService, RestoredDataSetsComeBackFromBackupAndDump) {
    startSim();
    RawClient client;
    connect(&client);
    for (int id = 0; id < 4; ++id) {
        std::string original = m_sim.dataSet(kSetNames[id]);
        ASSERT_EQ(original.size(), kDefaultSizes[id]) << kSetNames[id];
        EXPECT_EQ(backup(&client, id, original.size()), dataFrame(id, original));
    }
    std::string config = m_sim.dataSet("ConfigManager");
    EXPECT_EQ(std::set<char>(config.begin(), config.end()).size(), 256u) << "every byte value";

    const std::string replacements[] = {std::string(300, '\x7f') + '\0', "x", "",
                                        fromHex("00 ff 01 fe")};
    for (int id = 0; id < 4; ++id) {
        EXPECT_EQ(restore(&client, id, replacements[id]), kRestoreAck) << id;
    }
    client.close();
    // The new contents outlive the connection.
    RawClient next;
    connect(&next);
    for (int id = 0; id < 4; ++id) {
        EXPECT_EQ(backup(&next, id, replacements[id].size()), dataFrame(id, replacements[id]));
        EXPECT_EQ(m_sim.dataSet(kSetNames[id]), replacements[id]) << kSetNames[id];
    }
    EXPECT_EQ(toHex(exchange(&next, "01 00 04", 7)), kUnknownError);
    EXPECT_EQ(restore(&next, 4, "zz"), kUnknownError);
    EXPECT_EQ(toHex(exchange(&next, "01 00 ff", 7)), kUnknownError);
    EXPECT_EQ(m_sim.dataSet("SystemTimeConfig"), replacements[3]);
}

TEST_F(SimDataService, AssemblesFramesFromPiecesAndAnswersBatchesInOrder) {
    startSim();
    RawClient client;
    connect(&client);
    for (const char* piece : {"01", "01 03 05", "00 00", "00 aa bb", "cc dd", "ee"}) {
        ASSERT_TRUE(client.send(fromHex(piece)));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(toHex(client.receive(7, 1000)), kRestoreAck);
    EXPECT_EQ(toHex(m_sim.dataSet("SystemTimeConfig")), "aa bb cc dd ee");

    ASSERT_TRUE(client.send(fromHex("01 07 00 01 00 03 01 03 00")));
    std::string expected = "01 08 6b 01 01 03 05 00 00 00 aa bb cc dd ee 01 06 00";
    EXPECT_EQ(toHex(client.receive(fromHex(expected).size(), 1000)), expected);
    std::vector<std::string> frames = m_sim.frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames.back(), "01 03 00");
}

TEST_F(SimDataService, TakesDataSetsFromFilesOrFromTheSeed) {
    ASSERT_TRUE(testsupport::writeFile(m_state.file("UserManagerConfig.bin"), "abc"));
    startSim({"--data-dir", m_state.path()});
    RawClient client;
    connect(&client);
    EXPECT_EQ(toHex(exchange(&client, "01 00 00", 10)), "01 01 00 03 00 00 00 61 62 63");
    EXPECT_EQ(toHex(exchange(&client, "01 00 01", 7)), "01 01 01 00 00 00 00") << "missing file";
    client.close();
    m_sim.stop();

    auto dumpsWithSeed = [this](const std::string& seed) {
        EXPECT_TRUE(
            m_sim.start(m_address, {"--seed", seed, "--sizes", "300,0,1,2"}, m_state.path()));
        std::vector<std::string> sets;
        for (const char* name : kSetNames) {
            sets.push_back(m_sim.dataSet(name));
        }
        m_sim.stop();
        return sets;
    };
    std::vector<std::string> seven = dumpsWithSeed("7");
    EXPECT_EQ(seven[0].size(), 300u);
    EXPECT_EQ(seven[1].size(), 0u);
    EXPECT_EQ(seven[3].size(), 2u);
    EXPECT_EQ(dumpsWithSeed("7"), seven);
    EXPECT_NE(dumpsWithSeed("8")[0], seven[0]);
}

TEST_F(SimDataService, AcknowledgesRestoreWithHeaderOnlyFrameWhenAsked) {
    startSim({"--restore-ack", "header"});
    RawClient client;
    connect(&client);
    EXPECT_EQ(restore(&client, 2, "abc", 3), "01 06 00");
    EXPECT_EQ(m_sim.dataSet("DayLightConfig"), "abc");
}

TEST_F(SimDataService, DelaysEveryReply) {
    startSim({"--delay", "300"});
    RawClient client;
    connect(&client);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(client.send(fromHex("01 07 00")));
        EXPECT_EQ(client.receive(3, 150), "") << "too early in round " << round;
        EXPECT_EQ(toHex(client.receive(3, 1000)), "01 08 6b");
    }
}

TEST_F(SimDataService, ServesOneConnectionAtATime) {
    startSim();
    RawClient first;
    RawClient second;
    connect(&first);
    connect(&second); // waits in the backlog
    ASSERT_TRUE(second.send(fromHex("01 07 00")));
    EXPECT_EQ(second.receive(3, 200), "");
    EXPECT_EQ(toHex(exchange(&first, "01 07 00", 3)), "01 08 6b");
    first.close();
    EXPECT_EQ(toHex(second.receive(3, 1000)), "01 08 6b");
}
