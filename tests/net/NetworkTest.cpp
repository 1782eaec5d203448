#include "net/Network.h"
#include "net/LoopbackPeer.h"
#include "net/Timer.h"

#include <gtest/gtest.h>

#include <vector>

using namespace testpeer;

TEST(NetNetwork, AssemblesPiecesAndFailsAtEndOfStream) {
    std::string large(150000, '\0');
    for (size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>(i * 7 + i / 256);
    }
    LoopbackPeer peer;
    peer.start([&](int fd) {
        writeAll(fd, "abc");
        pauseMillis(50);
        writeAll(fd, "defg" + large);
        writeAll(fd, "0123456789"); // then ends the stream
    });
    CNetwork network;
    ASSERT_TRUE(network.openConnection("127.0.0.1", peer.port, 2000));
    char text[8] = {};
    int count = network.receiveBytes(text, 8, 2000);
    ASSERT_GE(count, 1);
    EXPECT_LE(count, 3) << "one read cannot see the second piece yet";
    EXPECT_GT(network.receiveAll(text + count, 7 - count, 2000), 0);
    EXPECT_EQ(std::string(text, 7), "abcdefg");
    std::vector<char> block;
    ASSERT_TRUE(network.receiveAll(&block, large.size(), 2000));
    EXPECT_TRUE(std::string(block.begin(), block.end()) == large);

    // Four gigabytes announced, ten bytes sent before the end of the stream:
    // the receipt fails at once and memory follows what came.
    long before = wallMillis();
    EXPECT_FALSE(network.receiveAll(&block, 0xFFFFFFFFUL, 5000));
    EXPECT_EQ(std::string(block.begin(), block.end()), "0123456789");
    EXPECT_LT(block.capacity(), 1024UL * 1024UL);
    EXPECT_EQ(network.receiveAll(text, 5, 5000), -1);
    EXPECT_LT(wallMillis() - before, 1000) << "end of stream must not wait for the time-out";
}

TEST(NetNetwork, WaitsSleepAndTransfersWithoutAPeerFail) {
    CNetwork network;
    char buffer[4];
    EXPECT_EQ(network.receiveBytes(buffer, 4, 1000), -1) << "not connected";
    EXPECT_EQ(network.sendBytes("ab", 2, 1000), -1) << "not connected";

    LoopbackPeer peer;
    peer.start([](int fd) { readExactly(fd, 1, 5000); }); // silent, leaves after one byte
    ASSERT_TRUE(network.openConnection("127.0.0.1", peer.port, 2000));
    long wallBefore = wallMillis(), cpuBefore = cpuMillis();
    EXPECT_EQ(network.receiveBytes(buffer, 4, 200), -1);
    EXPECT_EQ(network.receiveAll(buffer, 4, 200), -1);
    CTimer().waitMillis(200);
    long wall = wallMillis() - wallBefore;
    EXPECT_TRUE(wall >= 599 && wall < 3000) << wall;
    EXPECT_LT(cpuMillis() - cpuBefore, wall / 4) << "waiting must not burn the CPU";

    // Once the peer's reset arrived a send fails instead of raising SIGPIPE.
    EXPECT_EQ(network.sendBytes("x", 1, 1000), 1);
    peer.join();
    int result = 0;
    for (int attempt = 0; attempt < 50 && result != -1; ++attempt) {
        result = network.sendBytes("payload", 7, 1000);
        pauseMillis(20);
    }
    EXPECT_EQ(result, -1);
    network.closeConnection();
}

TEST(NetNetwork, RefusedConnectIsRetriedWithPausesUntilTheTimeOut) {
    unsigned int port = 0;
    int bound = boundSocket(&port);
    CNetwork network;
    long wallBefore = wallMillis(), cpuBefore = cpuMillis();
    EXPECT_FALSE(network.openConnection("127.0.0.1", port, 600));
    long wall = wallMillis() - wallBefore;
    EXPECT_TRUE(wall >= 599 && wall < 3000) << wall;
    EXPECT_LT(cpuMillis() - cpuBefore, wall / 4) << "retries must pause";
    network.closeConnection();

    // A service that starts listening while the tool retries is reached.
    std::thread late([bound]() {
        pauseMillis(300);
        listen(bound, 1);
    });
    EXPECT_TRUE(network.openConnection("127.0.0.1", port, 3000));
    late.join();
    network.closeConnection();
    close(bound);
}
