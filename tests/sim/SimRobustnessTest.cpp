// The simulator binary where the end-to-end tests, which drive it through
// the real tool, cannot take it: hostile clients, --refuse, bad command lines.
#include "support/Loopback.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::string_literals;

namespace {

// A socket connected to the simulator's data port, with 1 s time-outs on
// sending and receiving; -1 when the connection is refused.
int connectTo(const std::string& address) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(testsupport::SimProcess::kDataPort);
    inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

class SimRobustness : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(address.empty()) << "no free loopback address"; }

    // A simulator that crashed, or that a sanitizer flagged, fails the test here.
    void TearDown() override {
        if (sim.process().running()) {
            EXPECT_EQ(sim.stop(), std::optional<int>(0)) << sim.stderrText();
        }
    }

    // A new connection has its version request answered.
    void expectServed() {
        int fd = connectTo(address);
        ASSERT_GE(fd, 0);
        char reply[3] = {};
        EXPECT_TRUE(sendAll(fd, "\x01\x07\x00"s));
        EXPECT_EQ(recv(fd, reply, 3, MSG_WAITALL), 3);
        EXPECT_EQ(std::string(reply, 3), "\x01\x08\x6b"s);
        close(fd);
    }

    std::string address = testsupport::reserveLoopbackAddress();
    testsupport::TempDir dir;
    testsupport::SimProcess sim;
};

} // namespace

TEST_F(SimRobustness, SurvivesHostileClientsAndServesTheNext) {
    ASSERT_TRUE(sim.start(address, {}, dir.path())) << sim.stderrText();
    const std::string daylight = sim.dataSet("DayLightConfig");
    ASSERT_EQ(daylight.size(), 40u);

    int fd = connectTo(address);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, "\x01\x01\x00\xff\xff\xff\xff\x00"s));
    char byte;
    EXPECT_EQ(recv(fd, &byte, 1, 0), 0) << "a 4 GB announcement ends the connection";
    close(fd);
    EXPECT_NE(sim.stderrText().find("4294967295"), std::string::npos);
    expectServed();

    fd = connectTo(address); // end of stream in the middle of a restore frame
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, "\x01\x01\x02\x10\x00\x00\x00\xaa\xbb"s));
    close(fd);
    expectServed();
    EXPECT_EQ(sim.dataSet("DayLightConfig"), daylight) << "nothing restored";

    std::mt19937 generator(12345);
    std::string garbage;
    for (int i = 0; i < 8192; ++i) {
        garbage += static_cast<char>(generator());
    }
    fd = connectTo(address);
    ASSERT_GE(fd, 0);
    sendAll(fd, garbage); // may fail once the simulator hangs up
    close(fd);
    expectServed();
}

TEST_F(SimRobustness, RefuseOptionRefusesConnections) {
    ASSERT_TRUE(sim.start(address, {"--refuse"}, dir.path())) << sim.stderrText();
    EXPECT_EQ(connectTo(address), -1);
    EXPECT_EQ(sim.process().waitExit(0), std::nullopt) << "it keeps running";
}

TEST_F(SimRobustness, RejectsBadCommandLinesWithStatus2) {
    std::vector<std::vector<std::string>> badArgs = {
        {"--bogus"},          {"--interface-version", "256"}, {"--fault", "late:7:1"},
        {"--lifetime"},       {"--fault", "error:7:1:3"},     {"--fault", "noreply:7:0"},
        {"--sizes", "1,2,3"}, {"--restore-ack", "type3"},     {"--address", "10.1.2.3"},
    };
    for (auto& args : badArgs) {
        args.insert(args.begin(), {TURSA_SIM_BIN, "--state-dir", dir.path()});
    }
    badArgs.push_back({TURSA_SIM_BIN, "--address", "127.0.0.1"}); // --state-dir is required
    for (const std::vector<std::string>& argv : badArgs) {
        testsupport::Process bad;
        ASSERT_TRUE(bad.start(argv, {}, "", dir.file("err")));
        EXPECT_EQ(bad.waitExit(2000), std::optional<int>(2)) << argv.back();
        EXPECT_NE(testsupport::readFile(dir.file("err")), "") << argv.back();
    }
}
