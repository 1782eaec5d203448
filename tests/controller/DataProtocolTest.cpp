#include "controller/DataProtocol.h"
#include "app/Logger.h"
#include "controller/DataAction.h"
#include "controller/DataNetwork.h"
#include "net/LoopbackPeer.h"
#include "store/FileManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

using namespace testpeer;

namespace {

// Set 1 is empty; the others hold 01 02 03 04 05, 00 01 02 and FF.
const std::string GOOD_FILE = "Global.Version=107\nUserManagerConfig.DataLength=5\n"
                              "UserManagerConfig.Data=AQIDBAU=\nConfigManager.DataLength=0\n"
                              "DayLightConfig.DataLength=3\nDayLightConfig.Data=AAEC\n"
                              "SystemTimeConfig.DataLength=1\nSystemTimeConfig.Data=/w==\n";

std::string edited(const std::string& from, const std::string& to) {
    std::string text = GOOD_FILE;
    return text.replace(text.find(from), from.size(), to);
}

int thrownBy(std::function<void()> action) {
    try {
        action();
    } catch (int code) {
        return code;
    }
    return 0;
}

// A controller scripted on a loopback connection, the real file manager on a
// temporary file, and the log captured at level 4.
class ControllerDataProtocol : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/tursa-dataprotocol-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        CLogger::getInstance()->setLevel(4); // it keeps the streams it found
        m_oldOut = std::cout.rdbuf(m_log.rdbuf());
        m_oldErr = std::cerr.rdbuf(m_log.rdbuf());
    }

    void TearDown() override {
        disconnect();
        CDataNetwork::Destroy();
        CFileManager::Destroy();
        CLogger::getInstance()->setLevel(1);
        std::cout.rdbuf(m_oldOut);
        std::cerr.rdbuf(m_oldErr);
        std::filesystem::remove_all(m_dir);
    }

    // A fresh file manager on a new file holding content (none when empty).
    CDataProtocol* useFile(const std::string& content) {
        CFileManager::Destroy();
        std::string file = m_dir + "/backup" + std::to_string(++m_files);
        if (!content.empty()) {
            std::ofstream(file) << content;
        }
        CFileManager::getInstance()->setFileName(file);
        m_protocol.initialize();
        m_log.str("");
        return &m_protocol;
    }

    void connect(std::function<void(int)> script) {
        m_received.clear();
        m_peer = std::make_unique<LoopbackPeer>();
        m_peer->start(script);
        ASSERT_TRUE(CDataNetwork::getInstance()->openConnection("127.0.0.1", m_peer->port(), 2000));
    }

    // The tool's side closes first, so that a peer waiting for more ends.
    void disconnect() {
        CDataNetwork::getInstance()->CNetwork::closeConnection();
        if (m_peer) {
            m_peer->join();
        }
    }

    bool has(const std::string& key) { return CFileManager::getInstance()->hasKey(key); }
    int number(const std::string& key) { return CFileManager::getInstance()->getDataDWord(key); }
    std::string block(const std::string& key, int size) {
        std::string data(static_cast<size_t>(size), '\0');
        EXPECT_TRUE(CFileManager::getInstance()->getData(key, &data[0], size)) << key;
        return data;
    }

    std::string m_dir;
    int m_files = 0;
    std::stringstream m_log;
    std::streambuf* m_oldOut = nullptr;
    std::streambuf* m_oldErr = nullptr;
    std::string m_received; // what the peer got; outlives a failing test body
    std::unique_ptr<LoopbackPeer> m_peer;
    CDataProtocol m_protocol;
};

} // namespace

TEST_F(ControllerDataProtocol, VersionAndPasswordExchanges) {
    CDataProtocol* protocol = useFile("");
    connect([&](int fd) {
        const std::string replies[] = {bytes({1, 8, 0x6B}), bytes({1, 10, 1}), bytes({1, 10, 0}),
                                       bytes({1, 10, 2}),   bytes({1, 10, 1}), bytes({1, 8, 1})};
        const size_t sizes[] = {3, 7 + 6, 7 + 5, 8, 3, 7 + 6};
        for (int i = 0; i < 6; ++i) {
            m_received += readExactly(fd, sizes[i]);
            writeAll(fd, replies[i]);
        }
    });
    EXPECT_EQ(protocol->getVersion(), 107.0f);
    EXPECT_TRUE(protocol->comparePassword("secret"));
    EXPECT_FALSE(protocol->comparePassword("wrong"));
    EXPECT_FALSE(protocol->comparePassword(""));
    EXPECT_EQ(protocol->getVersion(), 0.0f) << "a reply of another type";
    EXPECT_FALSE(protocol->comparePassword("secret")) << "a reply of another type";
    m_peer->join();
    EXPECT_EQ(protocol->getVersion(), 0.0f) << "no reply";
    EXPECT_FALSE(protocol->comparePassword("secret")) << "no reply";

    const std::string secret = bytes({1, 9, 4, 6, 0, 0, 0}) + "secret";
    EXPECT_EQ(m_received,
              bytes({1, 7, 0}) + secret + bytes({1, 9, 4, 5, 0, 0, 0}) + "wrong" +
                  bytes({1, 9, 4, 1, 0, 0, 0, CDataAction::EMPTY_PASSWORD_PLACEHOLDER}) +
                  bytes({1, 7, 0}) + secret);
    EXPECT_EQ(m_log.str(), "");
}

TEST_F(ControllerDataProtocol, BackupStoresEverySet) {
    CDataProtocol* protocol = useFile("");
    connect([&](int fd) {
        // The reply's type is not examined; type 2 with data id 3 is no error.
        const std::string replies[] = {bytes({1, 1, 0, 5, 0, 0, 0, 1, 2, 3, 4, 5}),
                                       bytes({1, 0x55, 1, 3, 0, 0, 0, 'x', 'y', 'z'}),
                                       bytes({1, 1, 2, 0, 0, 0, 0}), bytes({1, 2, 3, 0, 0, 0, 0})};
        for (const std::string& reply : replies) {
            m_received += readExactly(fd, 3);
            writeAll(fd, reply.substr(0, 5));
            pauseMillis(10);
            writeAll(fd, reply.substr(5));
        }
    });
    EXPECT_TRUE(protocol->backupAllTursaData(107));
    m_peer->join();
    EXPECT_EQ(m_received, bytes({1, 0, 0, 1, 0, 1, 1, 0, 2, 1, 0, 3}));
    EXPECT_EQ(number("Global.Version"), 107);
    EXPECT_EQ(number("UserManagerConfig.DataLength"), 5);
    EXPECT_EQ(block("UserManagerConfig.Data", 5), bytes({1, 2, 3, 4, 5}));
    EXPECT_EQ(number("ConfigManager.DataLength"), 3);
    EXPECT_EQ(block("ConfigManager.Data", 3), "xyz");
    EXPECT_TRUE(has("DayLightConfig.DataLength") && has("SystemTimeConfig.DataLength"));
    EXPECT_EQ(number("DayLightConfig.DataLength") + number("SystemTimeConfig.DataLength"), 0);
    EXPECT_FALSE(has("DayLightConfig.Data") || has("SystemTimeConfig.Data"));
    const std::string log = m_log.str();
    EXPECT_NE(
        log.find("Backup data from UserManagerConfig ...\n  UserManagerConfig ...finished.\n"),
        std::string::npos);
    EXPECT_NE(log.find("  SystemTimeConfig ...finished.\nBackup of the controller finished.\n"),
              std::string::npos);
}

TEST_F(ControllerDataProtocol, BackupThatMissesDataEndsTheRun) {
    // Set 0 arrives whole; the reply to the request for set 1 is broken, and
    // the controller then closes the connection.
    const struct {
        const char* name;
        std::string reply;
        int code;
    } cases[] = {
        {"no reply header", "", 11},
        {"data block breaks off", bytes({1, 1, 1, 10, 0, 0, 0, 'a', 'b', 'c', 'd'}), 14},
        {"reply for another set", bytes({1, 1, 2, 1, 0, 0, 0, 'z'}), 14},
        {"error response", bytes({1, 2, 1, 0, 0, 0, 0}), 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CDataProtocol* protocol = useFile("");
        connect([&](int fd) {
            readExactly(fd, 3);
            writeAll(fd, bytes({1, 1, 0, 2, 0, 0, 0, 'o', 'k'}));
            readExactly(fd, 3);
            writeAll(fd, c.reply);
        });
        EXPECT_EQ(thrownBy([&]() { protocol->backupAllTursaData(107); }), c.code);
        disconnect();
        const char* message = c.code == 11 ? "Network unreachable.\n" : "Communication error.\n";
        EXPECT_NE(m_log.str().find(message), std::string::npos) << m_log.str();
        EXPECT_EQ(m_log.str().find("Backup of the controller finished."), std::string::npos);
        EXPECT_EQ(block("UserManagerConfig.Data", 2), "ok");
        EXPECT_FALSE(has("ConfigManager.DataLength") || has("ConfigManager.Data") ||
                     has("DayLightConfig.DataLength"));
    }

    CDataProtocol* protocol = useFile(""); // not connected: the request cannot be sent
    EXPECT_EQ(thrownBy([&]() { protocol->backupData(0); }), 11);
    EXPECT_EQ(m_log.str(), "Network unreachable.\n");
}

TEST_F(ControllerDataProtocol, RestoreSendsEveryStoredSet) {
    CDataProtocol* protocol = useFile(GOOD_FILE);
    connect([&](int fd) {
        m_received += readExactly(fd, 7 + 5);
        writeAll(fd, bytes({1, 2, 0, 2, 0, 0, 0, 'o', 'k'})); // type 2, id 0: no error
        m_received += readExactly(fd, 7);
        writeAll(fd, bytes({1, 0, 1}));
        m_received += readExactly(fd, 7 + 3);
        writeAll(fd, bytes({1, 2, 3, 0, 0, 0, 0}));
        m_received += readExactly(fd, 7 + 1); // no reply: the set counts as restored
    });
    EXPECT_TRUE(protocol->restoreAllTursaData(107));
    m_peer->join();
    EXPECT_EQ(m_received, bytes({1, 1, 0, 5, 0, 0, 0, 1, 2, 3, 4, 5}) +
                              bytes({1, 1, 1, 0, 0, 0, 0}) + bytes({1, 1, 2, 3, 0, 0, 0, 0, 1, 2}) +
                              bytes({1, 1, 3, 1, 0, 0, 0, 0xFF}));
    const std::string log = m_log.str();
    EXPECT_NE(log.find("Get data for UserManagerConfig\nRestored UserManagerConfig\n"),
              std::string::npos);
    EXPECT_NE(log.find("Restored SystemTimeConfig\nRestore of the controller data finished\n"),
              std::string::npos);
}

TEST_F(ControllerDataProtocol, RestoreRefusesABadFileBeforeSending) {
    const std::string corrupt = "Backup file is corrupt.\n";
    const std::string incompatible = "Backup file version not compatible.\n";
    const struct {
        std::string file;
        unsigned long controller;
        std::string log;
    } cases[] = {
        {edited("DayLightConfig.Data=AAEC\n", ""), 107, corrupt},
        {edited("DayLightConfig.DataLength=3", "DayLightConfig.DataLength=4"), 107, corrupt},
        {edited("DayLightConfig.DataLength=3", "DayLightConfig.DataLength=2"), 107, corrupt},
        {edited("DayLightConfig.DataLength=3", "DayLightConfig.DataLength=-3"), 107, corrupt},
        {edited("ConfigManager.DataLength=0\n",
                "ConfigManager.DataLength=0\nConfigManager.Data=AA\n"),
         107, corrupt},
        {edited("Global.Version=107\n", ""), 107, corrupt},
        {edited("Global.Version=107", "Global.Version=103"), 103,
         "Incompatible versions of backup file (103) and backup software.\n" + incompatible},
        {GOOD_FILE, 108,
         "Incompatible versions of backup file(107) and controller (108).\n" + incompatible},
        {edited("Global.Version=107", "Global.Version=104.5"), 104,
         "Incompatible versions of backup file(104.5) and controller (104).\n" + incompatible},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        CDataProtocol* protocol = useFile(c.file);
        connect([&](int fd) { m_received = readExactly(fd, 1, 5000); });
        EXPECT_EQ(thrownBy([&]() { protocol->restoreAllTursaData(c.controller); }),
                  c.log == corrupt ? 7 : 12);
        disconnect();
        EXPECT_EQ(m_received, "") << "nothing may be sent from a refused file";
        EXPECT_EQ(m_log.str(), c.log);
    }
    EXPECT_TRUE(useFile(edited("Global.Version=107", "Global.Version=104"))->checkVersion(104));
}

TEST_F(ControllerDataProtocol, RestoreEndsOnErrorResponseOrFailedSend) {
    CDataProtocol* protocol = useFile(GOOD_FILE);
    connect([](int fd) {
        readExactly(fd, 7 + 5);
        writeAll(fd, bytes({1, 8, 0}));
        readExactly(fd, 7);
        writeAll(fd, bytes({1, 2, 1, 0, 0, 0, 0}));
        readExactly(fd, 1, 5000);
    });
    EXPECT_EQ(thrownBy([&]() { protocol->restoreAllTursaData(107); }), 8);
    disconnect();
    EXPECT_NE(
        m_log.str().find(
            "Restored UserManagerConfig\nGet data for ConfigManager\nCould not restore data.\n"),
        std::string::npos)
        << m_log.str();

    protocol = useFile(GOOD_FILE);
    EXPECT_EQ(thrownBy([&]() { protocol->restoreAllTursaData(107); }), 11);
    EXPECT_EQ(m_log.str(), "Get data for UserManagerConfig\nNetwork unreachable.\n");
}
