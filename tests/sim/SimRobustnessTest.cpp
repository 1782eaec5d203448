#include "sim/SimFixture.h"

#include <random>

using namespace simtest;

namespace {

class SimRobustness : public SimFixture {
protected:
    void expectServedAgain() {
        RawClient client;
        connect(&client);
        EXPECT_EQ(toHex(exchange(&client, "01 07 00", 3)), "01 08 6b");
        EXPECT_TRUE(simAlive());
    }
};

std::string randomBytes(size_t count) {
    std::mt19937 generator(12345);
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(static_cast<char>(generator() & 0xFF));
    }
    return bytes;
}

} // namespace

TEST_F(SimRobustness, SurvivesHostileClientsAndServesTheNext) {
    startSim();
    {
        RawClient client;
        connect(&client);
        ASSERT_TRUE(client.send(fromHex("01 01 00 ff ff ff ff 00")));
        std::string before;
        EXPECT_TRUE(client.waitForClose(1000, &before))
            << "a 4 GB announcement ends the connection";
        EXPECT_NE(m_sim.stderrText().find("4294967295"), std::string::npos);
    }
    expectServedAgain();
    {
        RawClient client;
        connect(&client);
        ASSERT_TRUE(client.send(fromHex("01 01 02 10 00 00 00 aa bb")));
    } // end of stream in the middle of the frame
    expectServedAgain();
    EXPECT_EQ(m_sim.dataSet("DayLightConfig").size(), kDefaultSizes[2]);
    {
        RawClient client;
        connect(&client);
        client.send(randomBytes(8192)); // may fail once the simulator hangs up
    }
    expectServedAgain();
}

TEST_F(SimRobustness, AnswersUnknownTypesWithAnErrorResponse) {
    startSim();
    RawClient client;
    connect(&client);
    const std::string error = "01 02 01 00 00 00 00";
    EXPECT_EQ(toHex(exchange(&client, "01 05 00", 7)), error);
    EXPECT_EQ(toHex(exchange(&client, "01 08 00", 7)), error);
    EXPECT_EQ(toHex(exchange(&client, "01 04 00 00 00 00 00", 7)), error);
    EXPECT_EQ(toHex(exchange(&client, "01 ff 07 02 00 00 00 aa bb", 7)), error);
    std::vector<std::string> frames = m_sim.frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames.back(), "01 ff 07 02 00 00 00 aa bb");
}

TEST_F(SimRobustness, RefuseOptionRefusesConnections) {
    startSim({"--refuse"});
    RawClient client;
    EXPECT_FALSE(client.connect(m_address));
    EXPECT_TRUE(simAlive());
}

TEST_F(SimRobustness, EndsCleanlyOnSignalAndAfterItsLifetime) {
    startSim();
    EXPECT_EQ(m_sim.stop(), std::optional<int>(0));
    startSim({"--lifetime", "1"});
    EXPECT_EQ(m_sim.process().waitExit(3000), std::optional<int>(0));
}

TEST_F(SimRobustness, RejectsBadCommandLinesWithStatus2) {
    const std::vector<std::vector<std::string>> badArgs = {
        {"--bogus"},
        {"--interface-version", "256"},
        {"--fault", "late:7:1"},
        {"--fault", "error:7:1:3"},
        {"--fault", "noreply:7:0"},
        {"--sizes", "1,2,3"},
        {"--restore-ack", "type3"},
        {"--address", "10.1.2.3"},
        {"--lifetime"},
    };
    for (const std::vector<std::string>& args : badArgs) {
        std::vector<std::string> argv = {TURSA_SIM_BIN, "--state-dir", m_state.path()};
        argv.insert(argv.end(), args.begin(), args.end());
        testsupport::Process sim;
        ASSERT_TRUE(sim.start(argv, {}, "", m_state.file("err")));
        EXPECT_EQ(sim.waitExit(2000), std::optional<int>(2)) << args[0];
        EXPECT_NE(testsupport::readFile(m_state.file("err")), "") << args[0];
    }
    testsupport::Process sim;
    ASSERT_TRUE(sim.start({TURSA_SIM_BIN, "--address", "127.0.0.1"}, {}, "", ""));
    EXPECT_EQ(sim.waitExit(2000), std::optional<int>(2)) << "--state-dir is required";
    ASSERT_TRUE(sim.start({TURSA_SIM_BIN, "--help"}, {}, m_state.file("out"), ""));
    EXPECT_EQ(sim.waitExit(2000), std::optional<int>(0));
    EXPECT_EQ(testsupport::readFile(m_state.file("out")).rfind("Usage: tursa-sim", 0), 0u);
}
