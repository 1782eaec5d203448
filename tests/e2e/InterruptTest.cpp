// A technician's Ctrl-C, a SIGTERM or a lost session during a real run: the
// run fails, but cleans up first; under nohup it goes on. And the progress
// line for a person at a terminal: shown on the error stream when it is a
// terminal, never in logs, pipes or log files, and never in the way of the
// tool's own lines.
#include "e2e/BackupFile.h"
#include "e2e/ToolRun.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
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

class E2eInterrupt : public ::testing::Test {
protected:
    std::string address = testsupport::reserveLoopbackAddress();
    testsupport::TempDir dir;
    testsupport::TempDir work;
    testsupport::SimProcess sim;
    testsupport::Process tool;
    const std::string earlier = "Global.Version=107\nprevious=site\n\n";

    void SetUp() override {
        ASSERT_FALSE(address.empty());
        ASSERT_TRUE(sim.start(address, {"--fpms", "1", "--password", "pw"}, dir.file("sim")));
        testsupport::writeFile(work.file("site.bak"), earlier);
    }

    // The shell lines put in front of the tool's own arguments, if any; the
    // tool takes the shell's process (exec), so its pid and status are the
    // ones the test sees.
    void startBackup(const std::string& shellLine = "") {
        std::vector<std::string> argv = {TURSA_TOOL_BIN, "-b", "-i", address, "-p", "pw", "-f",
                                         work.file("site.bak")};
        if (!shellLine.empty()) {
            argv.insert(argv.begin(), {"/bin/bash", "-c", shellLine, "bash"});
        }
        tool.start(argv, e2e::compressedTime(), dir.file("out"), dir.file("err"));
    }

    int exitStatus() {
        auto ended = tool.waitExit(30000);
        EXPECT_TRUE(ended.has_value()) << "the tool did not end";
        return ended.value_or(-1);
    }

    void waitForTheControllerHalfsEnd() {
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return sim.hasEvent(testsupport::SimProcess::kDataPort, "close"); }));
    }

    // What the run left beside the earlier file.
    void expectEarlierFileKept() {
        EXPECT_EQ(testsupport::readFile(work.file("site.bak")), earlier);
        EXPECT_EQ(testsupport::namesIn(work.path(), {"site.bak", "site.bak.partial"}), std::vector<std::string>{})
            << "no temporary file is left";
        auto partial = e2e::parseBackup(testsupport::readFile(work.file("site.bak.partial")));
        EXPECT_EQ(partial.count("SystemTimeConfig.DataLength"), 1u);
    }

    struct Run {
        int status;
        std::string terminal;
        std::string out;
    };

    Run onTerminal(std::vector<std::string> args) {
        Terminal terminal;
        std::vector<std::string> argv = {TURSA_TOOL_BIN, "-i", address, "-p", "pw", "-f",
                                         work.file("site.bak")};
        argv.insert(argv.end(), args.begin(), args.end());
        testsupport::Process tool;
        tool.start(argv, e2e::compressedTime(), dir.file("out"), terminal.path());
        auto status = tool.waitExit(120000);
        return {status.value_or(-1), terminal.finish(), testsupport::readFile(dir.file("out"))};
    }

    void expectInterruptedLines() {
        EXPECT_EQ(testsupport::readFile(dir.file("err")),
                  "Interrupted.\nPartial backup kept in " + work.file("site.bak") + ".partial\n");
    }
};

// Both output streams go into a pipe whose reader leaves after the first
// line, as in `TursaBackupCmd ... -v 4 2>&1 | head -1`.
const std::string INTO_A_PIPE_READ_ONCE = " -v 4 > >(head -n 1) 2>&1";

} // namespace

TEST_F(E2eInterrupt, CtrlCDuringThePauseBeforeTheBus) {
    startBackup();
    waitForTheControllerHalfsEnd();
    kill(tool.pid(), SIGINT);
    EXPECT_EQ(exitStatus(), 128 + SIGINT);
    expectInterruptedLines();
    expectEarlierFileKept();
    EXPECT_FALSE(sim.hasEvent(testsupport::SimProcess::kBusPort, "open"));
}

TEST_F(E2eInterrupt, TermDuringTheTemplateTransferLeavesTheModulesClean) {
    startBackup();
    ASSERT_TRUE(testsupport::waitUntil([&] { return sim.frames(testsupport::SimProcess::kBusPort).size() > 100; }));
    kill(tool.pid(), SIGTERM);
    EXPECT_EQ(exitStatus(), 128 + SIGTERM);
    expectInterruptedLines();
    expectEarlierFileKept();
    const auto frames = sim.frames(testsupport::SimProcess::kBusPort);
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames.back(), "01 01 06 00 02 cf 01 f0 40 03") << "the bus reset comes last";
    EXPECT_NE(frames[frames.size() - 2].find(" 02 ff 08 f0 "), std::string::npos) << "after programming mode off";
    EXPECT_FALSE(sim.fpmProgMode(1));
    EXPECT_TRUE(sim.hasEvent(testsupport::SimProcess::kBusPort, "close"));
}

// The technician's ssh session drops: the hang-up ends the run like Ctrl-C,
// while its last lines go nowhere.
TEST_F(E2eInterrupt, LostSessionEndsTheRunAfterItsCleanUp) {
    startBackup("exec \"$@\"" + INTO_A_PIPE_READ_ONCE);
    waitForTheControllerHalfsEnd();
    kill(tool.pid(), SIGHUP);
    EXPECT_EQ(exitStatus(), 128 + SIGHUP);
    expectEarlierFileKept();
    EXPECT_EQ(e2e::splitLines(testsupport::readFile(dir.file("out"))).size(), 1u);
}

// Under nohup neither the hang-up nor the output's reader going away may
// cost the backup.
TEST_F(E2eInterrupt, RunUnderNohupOutlivesItsSessionAndItsReader) {
    startBackup("exec nohup \"$@\"" + INTO_A_PIPE_READ_ONCE);
    waitForTheControllerHalfsEnd();
    kill(tool.pid(), SIGHUP);
    EXPECT_EQ(exitStatus(), 0);
    EXPECT_EQ(e2e::splitLines(testsupport::readFile(dir.file("out"))).size(), 1u);
    auto backup = e2e::parseBackup(testsupport::readFile(work.file("site.bak")));
    EXPECT_EQ(e2e::unbase64(backup["FPM1.Data"]), sim.fpmTemplates(1));
    EXPECT_EQ(e2e::unbase64(backup["FPM1.CRC"]), sim.fpmCrc(1));
    EXPECT_EQ(testsupport::namesIn(work.path(), {"site.bak"}), std::vector<std::string>{});
}

// A restore interrupted while it writes a module's templates names the
// module it left blank; one interrupted while it switches programming mode
// on still switches it off again.
TEST_F(E2eInterrupt, InterruptedRestoreNamesTheModuleItCleaned) {
    const std::map<std::string, std::string> sets = {{"UserManagerConfig", "u"},
                                                     {"ConfigManager", "c"},
                                                     {"DayLightConfig", "d"},
                                                     {"SystemTimeConfig", "s"}};
    const e2e::Module module{sim.fpmTemplates(1), sim.fpmConfig(1), sim.fpmCrc(1)};
    testsupport::writeFile(work.file("site.bak"),
                           e2e::expectedBackup(107, sets, 0xC0, {{1, module}}));
    struct Case {
        int signal;
        std::string frame; // sent once this many bus frames are logged
        size_t frames;
        std::string lines;
    };
    for (const Case& c : {Case{SIGTERM, " 02 c1 04 f0 ", 200, "FPM 1 was cleaned and not restored\n"},
                          Case{SIGINT, " 02 ff 07 f0 ", 1, ""}}) {
        const size_t before = sim.frames(testsupport::SimProcess::kBusPort).size();
        tool.start({TURSA_TOOL_BIN, "-r", "-o", "-i", address, "-p", "pw", "-f",
                    work.file("site.bak")},
                   e2e::compressedTime(), dir.file("out"), dir.file("err"));
        ASSERT_TRUE(testsupport::waitUntil([&] {
            const auto frames = sim.frames(testsupport::SimProcess::kBusPort);
            return std::count_if(frames.begin() + static_cast<long>(before), frames.end(),
                                 [&](const std::string& f) {
                                     return f.find(c.frame) != std::string::npos;
                                 }) >= static_cast<long>(c.frames);
        }));
        kill(tool.pid(), c.signal);
        EXPECT_EQ(exitStatus(), 128 + c.signal);
        EXPECT_EQ(testsupport::readFile(dir.file("err")), "Interrupted.\n" + c.lines);
        const auto frames = sim.frames(testsupport::SimProcess::kBusPort);
        EXPECT_EQ(frames.back(), "01 01 06 00 02 cf 01 f0 40 03") << "the bus reset comes last";
        EXPECT_FALSE(sim.fpmProgMode(1));
    }
}

TEST_F(E2eInterrupt, ProgressShownOnATerminalOnly) {
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
    auto piped = e2e::runTool({"-b", "-i", address, "-p", "pw", "-f", work.file("site.bak"), "-v", "3"},
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

TEST_F(E2eInterrupt, ProgressErrorLinesStandOnTheirOwn) {
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
