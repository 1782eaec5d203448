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
