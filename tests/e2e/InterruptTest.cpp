// A technician's Ctrl-C, a SIGTERM or a lost session during a real run: the
// run fails, but cleans up first; under nohup it goes on.
#include "e2e/BackupFile.h"
#include "e2e/ToolRun.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

namespace {

bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool hasEvent(const testsupport::SimProcess& sim, int port, const std::string& what) {
    for (const auto& event : sim.events()) {
        if (event.port == port && event.what.rfind(what, 0) == 0) {
            return true;
        }
    }
    return false;
}

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
        ASSERT_TRUE(waitFor(
            [&] { return hasEvent(sim, testsupport::SimProcess::kDataPort, "close"); }));
    }

    // What the run left beside the earlier file.
    void expectEarlierFileKept() {
        EXPECT_EQ(testsupport::readFile(work.file("site.bak")), earlier);
        EXPECT_EQ(testsupport::namesIn(work.path(), {"site.bak", "site.bak.partial"}), std::vector<std::string>{})
            << "no temporary file is left";
        auto partial = e2e::parseBackup(testsupport::readFile(work.file("site.bak.partial")));
        EXPECT_EQ(partial.count("SystemTimeConfig.DataLength"), 1u);
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
    EXPECT_FALSE(hasEvent(sim, testsupport::SimProcess::kBusPort, "open"));
}

TEST_F(E2eInterrupt, TermDuringTheTemplateTransferLeavesTheModulesClean) {
    startBackup();
    ASSERT_TRUE(waitFor([&] { return sim.frames(testsupport::SimProcess::kBusPort).size() > 100; }));
    kill(tool.pid(), SIGTERM);
    EXPECT_EQ(exitStatus(), 128 + SIGTERM);
    expectInterruptedLines();
    expectEarlierFileKept();
    const auto frames = sim.frames(testsupport::SimProcess::kBusPort);
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames.back(), "01 01 06 00 02 cf 01 f0 40 03") << "the bus reset comes last";
    EXPECT_NE(frames[frames.size() - 2].find(" 02 ff 08 f0 "), std::string::npos) << "after programming mode off";
    EXPECT_FALSE(sim.fpmProgMode(1));
    EXPECT_TRUE(hasEvent(sim, testsupport::SimProcess::kBusPort, "close"));
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
        ASSERT_TRUE(waitFor([&] {
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
