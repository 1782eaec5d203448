#include "controller/DataNetwork.h"
#include "controller/Frame.h"
#include "net/LoopbackPeer.h"

#include <gtest/gtest.h>

using namespace testpeer;

TEST(ControllerDataNetwork, LengthCarryingReplyToAShortHeaderReadKeepsTheStreamInStep) {
    // An error response where a 3-byte reply is expected: its length and data
    // are consumed, so the version reply after it is read in step.
    LoopbackPeer peer;
    peer.start([](int fd) { writeAll(fd, bytes({1, 2, 1, 2, 0, 0, 0, 'e', 'r', 1, 8, 0x6B})); });
    CDataNetwork::Destroy();
    CDataNetwork* network = CDataNetwork::getInstance();
    ASSERT_TRUE(network->openConnection("127.0.0.1", peer.port, 2000));
    CFrame frame;
    EXPECT_EQ(network->receiveFrameHeader(&frame, 3, 2000), 2);
    EXPECT_EQ(frame.getType(), 2);
    EXPECT_EQ(frame.getDataId(), 1);
    EXPECT_TRUE(network->receiveFrameData(&frame, 2, 2000));
    EXPECT_EQ(network->receiveFrameHeader(&frame, 3, 2000), 0);
    EXPECT_EQ(frame.getType(), 8);
    EXPECT_EQ(frame.getDataId(), 0x6B);
    network->CNetwork::closeConnection();
    CDataNetwork::Destroy();
}

TEST(ControllerDataNetwork, CloseWaitsASecondForTheAcknowledgement) {
    // Type 6 and silence close the socket, the silence after a second;
    // another reply leaves the connection open.
    const struct {
        std::string reply;
        int state;
        long minMs, maxMs;
    } cases[] = {{bytes({1, 6, 0}), CNetwork::STATE_CLOSED, 0, 900},
                 {"", CNetwork::STATE_CLOSED, 999, 3000},
                 {bytes({1, 5, 0}), CNetwork::STATE_CONNECTED, 0, 900}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        LoopbackPeer peer;
        peer.start([&](int fd) {
            readExactly(fd, 3);
            writeAll(fd, c.reply);
            readExactly(fd, 1, 5000); // until the tool closes
        });
        CDataNetwork::Destroy();
        CDataNetwork* network = CDataNetwork::getInstance();
        ASSERT_TRUE(network->openConnection("127.0.0.1", peer.port, 2000));
        long before = wallMillis();
        EXPECT_FALSE(network->closeConnection());
        long waited = wallMillis() - before;
        EXPECT_GE(waited, c.minMs);
        EXPECT_LT(waited, c.maxMs);
        EXPECT_EQ(network->getState(), c.state);
        network->CNetwork::closeConnection();
    }
    CDataNetwork::Destroy();
}
