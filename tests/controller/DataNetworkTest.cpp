#include "controller/DataNetwork.h"
#include "controller/Frame.h"
#include "net/LoopbackPeer.h"

#include <gtest/gtest.h>

using namespace testpeer;

namespace {

CDataNetwork* connectTo(LoopbackPeer* peer, std::function<void(int)> script) {
    CDataNetwork::Destroy();
    peer->start(script);
    CDataNetwork* network = CDataNetwork::getInstance();
    EXPECT_EQ(network->getState(), CNetwork::STATE_CLOSED);
    EXPECT_TRUE(network->openConnection("127.0.0.1", peer->port(), 2000));
    return network;
}

} // namespace

TEST(ControllerDataNetwork, ReceivesHeadersAndDataInStep) {
    std::string request; // declared first: the peer thread may write it until joined
    LoopbackPeer peer;
    CDataNetwork* network = connectTo(&peer, [&](int fd) {
        request = readExactly(fd, 3);
        writeAll(fd, bytes({1, 10, 1}));
        // A 7-byte header and its data, in pieces.
        writeAll(fd, bytes({1, 1}));
        pauseMillis(30);
        writeAll(fd, bytes({2, 5, 0, 0, 0, 'h', 'e'}));
        pauseMillis(30);
        writeAll(fd, "llo");
        // An error response where a 3-byte reply is expected: its length and
        // data are consumed, so the version reply after it is read in step.
        writeAll(fd, bytes({1, 2, 1, 2, 0, 0, 0, 'e', 'r', 1, 8, 0x6B}));
        // A block that breaks off at the end of the stream.
        writeAll(fd, bytes({1, 1, 2, 9, 0, 0, 0, 'a'}));
    });
    CFrame version;
    version.setSOH(1);
    version.setType(7);
    EXPECT_TRUE(network->sendFrame(&version, 2000));

    CFrame frame;
    EXPECT_EQ(network->receiveFrameHeader(&frame, 3, 2000), 0);
    EXPECT_EQ(frame.getType(), 10);
    EXPECT_EQ(frame.getDataId(), 1);
    EXPECT_EQ(network->receiveFrameHeader(&frame, 7, 2000), 5);
    EXPECT_EQ(frame.getDataId(), 2);
    EXPECT_TRUE(network->receiveFrameData(&frame, 5, 2000));
    EXPECT_TRUE(network->receiveFrameData(&frame, 0, 2000)) << "size 0 reads nothing";
    char data[5] = {};
    unsigned long length = 0;
    frame.getData(data, &length);
    EXPECT_EQ(std::string(data, length), "hello");

    EXPECT_EQ(network->receiveFrameHeader(&frame, 3, 2000), 2);
    EXPECT_EQ(frame.getType(), 2);
    EXPECT_TRUE(network->receiveFrameData(&frame, 2, 2000));
    EXPECT_EQ(network->receiveFrameHeader(&frame, 3, 2000), 0);
    EXPECT_EQ(frame.getType(), 8);
    EXPECT_EQ(frame.getDataId(), 0x6B);

    long before = wallMillis();
    EXPECT_EQ(network->receiveFrameHeader(&frame, 7, 5000), 9);
    EXPECT_FALSE(network->receiveFrameData(&frame, 9, 5000));
    EXPECT_EQ(network->receiveFrameHeader(&frame, 3, 5000), -1);
    EXPECT_LT(wallMillis() - before, 2000) << "end of stream fails at once";
    peer.join();
    EXPECT_EQ(request, bytes({1, 7, 0}));
    network->CNetwork::closeConnection();
}

TEST(ControllerDataNetwork, CloseWaitsASecondForTheAcknowledgement) {
    struct Case {
        std::string reply;
        int state;
        long minMs;
        long maxMs;
    };
    const Case cases[] = {{bytes({1, 6, 0}), CNetwork::STATE_CLOSED, 0, 900},
                          {"", CNetwork::STATE_CLOSED, 999, 3000},
                          {bytes({1, 5, 0}), CNetwork::STATE_CONNECTED, 0, 900}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.size());
        std::string request;
        LoopbackPeer peer;
        CDataNetwork* network = connectTo(&peer, [&](int fd) {
            request = readExactly(fd, 3);
            writeAll(fd, c.reply);
            readExactly(fd, 1, 5000); // until the tool closes
        });
        long before = wallMillis();
        EXPECT_FALSE(network->closeConnection());
        long waited = wallMillis() - before;
        EXPECT_GE(waited, c.minMs);
        EXPECT_LT(waited, c.maxMs);
        EXPECT_EQ(network->getState(), c.state);
        network->CNetwork::closeConnection();
        peer.join();
        EXPECT_EQ(request, bytes({1, 3, 0}));
    }
    CDataNetwork::Destroy();
}
