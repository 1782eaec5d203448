#include "controller/DataProtocol.h"
#include "base/Logger.h"
#include "controller/DataNetwork.h"
#include "net/LoopbackPeer.h"
#include "store/FileManager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace testpeer;

TEST(ControllerDataProtocol, CheckVersionWantsTheControllersVersion) {
    char file[] = "/tmp/tursa-version-XXXXXX";
    close(mkstemp(file));
    std::stringstream log;
    std::streambuf* oldOut = std::cout.rdbuf(log.rdbuf());
    CLogger::getInstance()->setLevel(2);
    CDataProtocol protocol;
    for (const std::string version : {"104", "104.5"}) {
        std::ofstream(file) << "Global.Version=" << version << "\n";
        CFileManager::getInstance()->setFileName(file);
        protocol.initialize();
        EXPECT_EQ(protocol.checkVersion(104), version == "104") << version;
    }
    EXPECT_EQ(log.str(), "Incompatible versions of backup file(104.5) and controller (104).\n");
    std::cout.rdbuf(oldOut);
    CLogger::getInstance()->setLevel(1);
    CFileManager::Destroy();
    unlink(file);
}

TEST(ControllerDataProtocol, ErrorReplyWhoseDataBreaksOffIsARefusal) {
    LoopbackPeer peer;
    peer.start([](int fd) {
        readExactly(fd, 7 + 2);
        writeAll(fd, bytes({1, 2, 0, 2, 0, 0, 0, 'o', 'k'})); // data id 0: no error
        readExactly(fd, 7 + 2);
        writeAll(fd, bytes({1, 2, 1, 5, 0, 0, 0, 'e'})); // then ends the stream
    });
    CDataNetwork::Destroy();
    ASSERT_TRUE(CDataNetwork::getInstance()->openConnection("127.0.0.1", peer.port, 2000));
    CDataProtocol protocol;
    protocol.initialize();
    char data[] = {'o', 'k'};
    EXPECT_TRUE(protocol.restoreData(0, data, 2));
    EXPECT_FALSE(protocol.restoreData(1, data, 2));
    CDataNetwork::getInstance()->CNetwork::closeConnection();
    CDataNetwork::Destroy();
}

TEST(ControllerDataProtocol, AnnouncedSetAboveTheLargestIsACommunicationError) {
    // 01 02 00 and a length of 256 MiB + 1: no data follows, and the tool
    // must not wait for it.
    LoopbackPeer peer;
    peer.start([](int fd) {
        readExactly(fd, 3);
        writeAll(fd, bytes({1, 2, 0, 1, 0, 0, 0x10}));
        readExactly(fd, 1, 5000); // holds the connection until the tool closes it
    });
    CDataNetwork::Destroy();
    ASSERT_TRUE(CDataNetwork::getInstance()->openConnection("127.0.0.1", peer.port, 2000));
    CDataProtocol protocol;
    protocol.initialize();
    std::stringstream errors;
    std::streambuf* oldErr = std::cerr.rdbuf(errors.rdbuf());
    const long start = wallMillis();
    int code = 0;
    try {
        protocol.backupData(0);
    } catch (int thrown) {
        code = thrown;
    }
    std::cerr.rdbuf(oldErr);
    EXPECT_EQ(code, 14);
    EXPECT_LT(wallMillis() - start, 1000);
    EXPECT_EQ(errors.str(), "Communication error.\n");
    CDataNetwork::getInstance()->CNetwork::closeConnection();
    CDataNetwork::Destroy();
}
