// The progress line for a person at a terminal: shown on the error stream
// when it is a terminal, never in logs, pipes or log files, and never in
// the way of the tool's own lines.
#include "e2e/ToolRun.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

// A pseudo-terminal whose other end a child takes as its error stream;
// everything the child writes there is collected.
class Terminal {
public:
    Terminal() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0) {
            m_slavePath = ptsname(m_master);
            // Held open here too, so reading never fails before the child opened it.
            m_slave = open(m_slavePath.c_str(), O_RDWR | O_NOCTTY);
        }
        m_reader = std::thread([this] { collect(); });
    }
    ~Terminal() {
        m_done = true;
        m_reader.join();
        close(m_slave);
        close(m_master);
    }
    const std::string& path() const { return m_slavePath; }
    // What arrived, once the child has ended.
    std::string finish() {
        m_done = true;
        m_reader.join();
        m_reader = std::thread([] {});
        return m_text;
    }

private:
    void collect() {
        char buffer[4096];
        for (;;) {
            struct pollfd wait = {m_master, POLLIN, 0};
            const bool finishing = m_done;
            if (poll(&wait, 1, finishing ? 0 : 50) > 0) {
                ssize_t got = read(m_master, buffer, sizeof(buffer));
                if (got > 0) {
                    m_text.append(buffer, static_cast<size_t>(got));
                    continue;
                }
            }
            if (finishing) {
                return;
            }
        }
    }

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_text;
    std::atomic<bool> m_done{false};
    std::thread m_reader;
};

class E2eProgress : public ::testing::Test {
protected:
    std::string address = testsupport::reserveLoopbackAddress();
    testsupport::TempDir dir;
    testsupport::SimProcess sim;

    void SetUp() override {
        ASSERT_FALSE(address.empty());
        ASSERT_TRUE(sim.start(address, {"--fpms", "1", "--password", "pw"}, dir.file("sim")));
    }

    struct Run {
        int status;
        std::string terminal;
        std::string out;
    };

    Run onTerminal(std::vector<std::string> args) {
        Terminal terminal;
        std::vector<std::string> argv = {TURSA_TOOL_BIN, "-i", address, "-p", "pw", "-f",
                                         dir.file("site.bak")};
        argv.insert(argv.end(), args.begin(), args.end());
        testsupport::Process tool;
        tool.start(argv, e2e::compressedTime(), dir.file("out"), terminal.path());
        auto status = tool.waitExit(120000);
        return {status.value_or(-1), terminal.finish(), testsupport::readFile(dir.file("out"))};
    }
};

} // namespace

TEST_F(E2eProgress, ShownOnATerminalOnly) {
    auto shown = onTerminal({"-b", "-v", "3"});
    ASSERT_EQ(shown.status, 0);
    for (const char* text : {"\r\033[KWaiting for the controller: 70 s", "\r\033[KWaiting for the bus: 5 s",
                             "\r\033[KFPM 1: backup 50 %, 0 blocks retried",
                             "\r\033[KFPM 1: backup 100 %, 0 blocks retried", "\r\033[KFPM 1: waiting: 2 s"}) {
        EXPECT_NE(shown.terminal.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(shown.terminal.find('\n'), std::string::npos) << "a successful run writes no line there";
    EXPECT_EQ(shown.terminal.substr(shown.terminal.size() - 4), "\r\033[K") << "the line is erased";

    // Standard output is the same as without a terminal.
    auto piped = e2e::runTool({"-b", "-i", address, "-p", "pw", "-f", dir.file("site.bak"), "-v", "3"},
                              dir.path());
    ASSERT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(shown.out, piped.out);

    // Not with a log file, and not at verbosity 0.
    auto logged = onTerminal({"-b", "-v", "3", "-F", dir.file("log")});
    EXPECT_EQ(logged.status, 0);
    EXPECT_EQ(logged.terminal, "");
    auto quiet = onTerminal({"-b", "-v", "0"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.terminal, "");
}

TEST_F(E2eProgress, ErrorLinesStandOnTheirOwn) {
    ASSERT_EQ(onTerminal({"-b"}).status, 0);
    sim.stop();
    ASSERT_TRUE(sim.start(address, {"--fpms", "1", "--password", "pw", "--bus-fault", "noreply:4:300:6"},
                          dir.file("silent")));
    auto failed = onTerminal({"-r", "--fpm-only"});
    EXPECT_EQ(failed.status, 11);
    EXPECT_NE(failed.terminal.find("FPM 1: restore 61 %, 1 blocks retried\r\033[KNetwork unreachable.\r\n"),
              std::string::npos)
        << failed.terminal.substr(failed.terminal.size() > 300 ? failed.terminal.size() - 300 : 0);
}
