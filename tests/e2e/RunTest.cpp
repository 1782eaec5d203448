// A real run under what happens to it on a technician's machine:
//   - a Ctrl-C, a SIGTERM or a lost session: the run fails, but cleans up
//     first; under nohup it goes on;
//   - the progress line for a person at a terminal: shown on the error
//     stream when it is a terminal, never in logs, pipes or log files, and
//     never in the way of the tool's own lines;
//   - other users of the backup's and the log's folders (a link swapped in
//     for the run's temporary file, links planted in advance), full disks
//     and memory limits: the tool, often run as root, must not write
//     through another user's link, nor leave a broken file behind.
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
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

// The hidden temporary file the tool made beside the target, or "".
std::string temporaryIn(const std::string& dir, const std::string& target) {
    for (const std::string& name : testsupport::namesIn(dir)) {
        if (name.rfind("." + target + ".", 0) == 0) {
            return dir + "/" + name;
        }
    }
    return "";
}

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

// A simulated site with one module, an earlier backup in its own folder,
// and the tool started on it.
class E2eRun : public ::testing::Test {
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

    // The site again, with other options.
    void restartSite(std::vector<std::string> simArgs) {
        sim.stop();
        simArgs.insert(simArgs.end(), {"--fpms", "1", "--password", "pw"});
        ASSERT_TRUE(sim.start(address, simArgs, dir.file("sim-again")));
    }

    // A backup, the tool's command line after the prefix (a shell line that
    // execs it, so that its pid and status are the ones the test sees, or a
    // resource limit through prlimit).
    void startBackup(std::vector<std::string> prefix = {}, const std::string& target = "") {
        prefix.insert(prefix.end(), {TURSA_TOOL_BIN, "-b", "-i", address, "-p", "pw", "-f",
                                     target.empty() ? work.file("site.bak") : target});
        tool.start(prefix, e2e::compressedTime(), dir.file("out"), dir.file("err"));
    }

    // Any run against the site, with the tool's arguments after its address
    // and password.
    void startTool(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {TURSA_TOOL_BIN, "-i", address, "-p", "pw"};
        argv.insert(argv.end(), args.begin(), args.end());
        tool.start(argv, e2e::compressedTime(), dir.file("out"), dir.file("err"));
    }

    int exitStatus() {
        auto ended = tool.waitExit(60000);
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

    static std::string logRefusal(const std::string& name) {
        return "Could not user logfile " + name + "\n";
    }
    std::string errors() const { return testsupport::readFile(dir.file("err")); }
    bool earlierFileKept() const { return testsupport::readFile(work.file("site.bak")) == earlier; }

    void expectInterruptedLines() {
        EXPECT_EQ(testsupport::readFile(dir.file("err")),
                  "Interrupted.\nPartial backup kept in " + work.file("site.bak") + ".partial\n");
    }
};

// Both output streams go into a pipe whose reader leaves after the first
// line, as in `TursaBackupCmd ... -v 4 2>&1 | head -1`.
const std::string INTO_A_PIPE_READ_ONCE = " -v 4 > >(head -n 1) 2>&1";

} // namespace

TEST_F(E2eRun, CtrlCDuringThePauseBeforeTheBus) {
    startBackup();
    waitForTheControllerHalfsEnd();
    kill(tool.pid(), SIGINT);
    EXPECT_EQ(exitStatus(), 128 + SIGINT);
    expectInterruptedLines();
    expectEarlierFileKept();
    EXPECT_FALSE(sim.hasEvent(testsupport::SimProcess::kBusPort, "open"));
}

TEST_F(E2eRun, TermDuringTheTemplateTransferLeavesTheModulesClean) {
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
TEST_F(E2eRun, LostSessionEndsTheRunAfterItsCleanUp) {
    startBackup({"/bin/bash", "-c", "exec \"$@\"" + INTO_A_PIPE_READ_ONCE, "bash"});
    waitForTheControllerHalfsEnd();
    kill(tool.pid(), SIGHUP);
    EXPECT_EQ(exitStatus(), 128 + SIGHUP);
    expectEarlierFileKept();
    EXPECT_EQ(e2e::splitLines(testsupport::readFile(dir.file("out"))).size(), 1u);
}

// Under nohup neither the hang-up nor the output's reader going away may
// cost the backup.
TEST_F(E2eRun, RunUnderNohupOutlivesItsSessionAndItsReader) {
    startBackup({"/bin/bash", "-c", "exec nohup \"$@\"" + INTO_A_PIPE_READ_ONCE, "bash"});
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
TEST_F(E2eRun, InterruptedRestoreNamesTheModuleItCleaned) {
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

TEST_F(E2eRun, ProgressShownOnATerminalOnly) {
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

TEST_F(E2eRun, ProgressErrorLinesStandOnTheirOwn) {
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

TEST_F(E2eRun, SwappedTemporaryFileIsNeverWrittenThrough) {
    testsupport::writeFile(dir.file("victim"), "precious\n");
    startBackup();
    testsupport::waitUntil([&] { return sim.hasEvent(testsupport::SimProcess::kDataPort, "close"); }, 20);
    const std::string temporary = temporaryIn(work.path(), "site.bak");
    ASSERT_FALSE(temporary.empty()) << "no temporary file beside the target";
    ASSERT_EQ(unlink(temporary.c_str()), 0);
    ASSERT_EQ(symlink(dir.file("victim").c_str(), temporary.c_str()), 0);

    EXPECT_EQ(exitStatus(), 19);
    EXPECT_EQ(testsupport::readFile(dir.file("victim")), "precious\n");
    EXPECT_TRUE(earlierFileKept());
    char link[4096] = {};
    EXPECT_EQ(readlink(work.file("site.bak").c_str(), link, sizeof(link)), -1) << "the target is no link";
    EXPECT_EQ(errors(), "Could not open backup file.\n");
}

TEST_F(E2eRun, RunningOutOfMemoryIsACleanFailure) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
    // Data sets of 16 and 64 MiB, in a process limited to 100 MiB of
    // address space: the first fits, the second cannot.
    restartSite({"--sizes", "16777216,67108864,16,16"});
    startBackup({"/usr/bin/prlimit", "--as=104857600", "--"});
    EXPECT_EQ(exitStatus(), 20) << "not an abort";
    // What was collected is kept when memory allows storing it.
    const std::string partialLine = "Partial backup kept in " + work.file("site.bak") + ".partial\n";
    const bool kept = e2e::exists(work.file("site.bak.partial"));
    EXPECT_EQ(errors(), "Memory error\n" + (kept ? partialLine : ""));
    EXPECT_TRUE(earlierFileKept());
    EXPECT_EQ(temporaryIn(work.path(), "site.bak"), "") << "no temporary file is left";
}

TEST_F(E2eRun, FileSizeLimitIsOneClearFailure) {
    // Past 4 KiB every store fails as on a full disk, and SIGXFSZ must not
    // kill the run: one error line, the earlier file intact, nothing
    // truncated presented as a backup.
    startBackup({"/usr/bin/prlimit", "--fsize=4096", "--"});
    EXPECT_EQ(exitStatus(), 19);
    EXPECT_EQ(errors(), "Could not open backup file.\n");
    EXPECT_TRUE(earlierFileKept());
    EXPECT_FALSE(e2e::exists(work.file("site.bak.partial")));
    EXPECT_EQ(temporaryIn(work.path(), "site.bak"), "");
}

TEST_F(E2eRun, PartialFileBesideALinkToAnotherFileSystem) {
    // The target is a link into /dev/shm: the run's temporary file lives
    // there, the partial file beside the link cannot be renamed into place
    // and is written on this side instead.
    char shm[] = "/dev/shm/tursa-test-XXXXXX";
    ASSERT_NE(mkdtemp(shm), nullptr);
    const std::string real = std::string(shm) + "/real.bak";
    struct stat here {};
    struct stat there {};
    ASSERT_EQ(stat(dir.path().c_str(), &here), 0);
    ASSERT_EQ(stat(shm, &there), 0);
    if (here.st_dev == there.st_dev) {
        rmdir(shm);
        GTEST_SKIP() << "/dev/shm is on the same file system as " << dir.path();
    }
    restartSite({"--refuse-bus"});
    testsupport::writeFile(real, earlier);
    ASSERT_EQ(symlink(real.c_str(), dir.file("link.bak").c_str()), 0);
    startBackup({}, dir.file("link.bak"));
    EXPECT_EQ(exitStatus(), 1);
    const std::string partial = dir.file("link.bak.partial");
    EXPECT_EQ(errors(), "Could not open network connection.\nPartial backup kept in " + partial + "\n");
    struct stat kept {};
    ASSERT_EQ(lstat(partial.c_str(), &kept), 0);
    EXPECT_TRUE(S_ISREG(kept.st_mode));
    EXPECT_EQ(kept.st_mode & 0777, 0600u);
    EXPECT_NE(testsupport::readFile(partial).find("UserManagerConfig.Data="), std::string::npos);
    EXPECT_EQ(testsupport::readFile(real), earlier);
    EXPECT_EQ(temporaryIn(shm, "real.bak"), "") << "no temporary file left over there";
    EXPECT_EQ(temporaryIn(dir.path(), "link.bak.partial"), "") << "nor here";
    unlink(real.c_str());
    rmdir(shm);
}

TEST_F(E2eRun, LinkPlantedByAnotherUserIsNeverFollowed) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can hand a link to another user";
    }
    // In a sticky folder open to everyone, another user has planted links to
    // a file only root may read and to a name where root has no file yet;
    // root's own link there leads on to the other user's.
    const std::string secret = dir.file("secret");
    testsupport::writeFile(secret, "root only\n");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    const std::string shared = dir.file("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string backupLink = shared + "/site.bak";
    const std::string logLink = shared + "/tool.log";
    const std::string newLogLink = shared + "/new.log";
    const std::string rootsLink = shared + "/root.bak";
    const uid_t nobody = 65534;
    const std::vector<std::tuple<std::string, std::string, uid_t>> links = {
        {backupLink, secret, nobody},
        {logLink, secret, nobody},
        {newLogLink, dir.file("created"), nobody},
        {rootsLink, "site.bak", 0},
    };
    for (const auto& [link, target, owner] : links) {
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
        ASSERT_EQ(lchown(link.c_str(), owner, owner), 0);
    }
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"-b", "-f", backupLink}, 19, "Could not open backup file.\n"},
        {{"-r", "-f", backupLink}, 19, "Could not open backup file.\n"},
        {{"-b", "-f", rootsLink}, 19, "Could not open backup file.\n"},
        {{"-b", "-f", work.file("site.bak"), "-F", logLink}, 16, logRefusal(logLink)},
        {{"-r", "-f", work.file("site.bak"), "-F", newLogLink}, 16, logRefusal(newLogLink)},
    };
    for (const Case& c : cases) {
        startTool(c.args);
        EXPECT_EQ(exitStatus(), c.status) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(errors(), c.error);
    }
    EXPECT_EQ(testsupport::readFile(secret), "root only\n");
    EXPECT_FALSE(e2e::exists(dir.file("created")));
    EXPECT_TRUE(earlierFileKept());
    EXPECT_EQ(temporaryIn(dir.path(), "secret"), "") << "no temporary file beside the target";
    EXPECT_EQ(temporaryIn(shared, "site.bak"), "") << "nor beside the link";
    EXPECT_FALSE(e2e::exists(backupLink + ".partial"));
    EXPECT_TRUE(sim.events().empty()) << "nothing reached the controller";
}
