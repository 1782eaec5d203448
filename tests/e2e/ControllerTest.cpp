// The real tool against the controller simulator, each test on its own
// loopback address, with the tool's pauses and time-outs compressed by
// libfaketime.
#include "e2e/BackupFile.h"
#include "e2e/ToolRun.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using e2e::runTool;
using e2e::splitLines;
using namespace std::string_literals;

namespace {


std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += text.empty() ? "" : " ";
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

std::string littleEndian32(size_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return bytes;
}

class E2eController : public ::testing::Test {
protected:
    std::string address = testsupport::reserveLoopbackAddress();
    testsupport::TempDir dir;
    std::string backupFile = dir.file("site.bak");

    std::unique_ptr<testsupport::SimProcess> startSim(std::vector<std::string> args,
                                                      const std::string& name = "sim") {
        auto sim = std::make_unique<testsupport::SimProcess>();
        args.insert(args.end(), {"--fpms", "1"});
        EXPECT_TRUE(sim->start(address, args, dir.file(name))) << "simulator not ready";
        return sim;
    }

    e2e::ToolResult tool(const std::string& task, const std::string& password, int verbosity,
                         std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {
            task, "-i", address, "-p", password, "-f", backupFile, "-v", std::to_string(verbosity)};
        args.insert(args.end(), extra.begin(), extra.end());
        return runTool(args, dir.path());
    }

    // The backup file a run against these data sets and the simulator's
    // one module must write.
    static std::string expectedFile(int version, const std::map<std::string, std::string>& sets,
                                    const testsupport::SimProcess& sim) {
        return e2e::expectedBackup(
            version, sets, 0xC0,
            {{1, {sim.fpmTemplates(1), sim.fpmConfig(1), sim.fpmCrc(1)}}});
    }
};

} // namespace

TEST_F(E2eController, BackupAndRestoreWithLoginAtVersion107) {
    auto source = startSim({"--interface-version", "107", "--password", "secret", "--seed", "7"});
    const auto original = e2e::siteSets(*source);

    auto backup = tool("--backup", "secret", 4);
    ASSERT_EQ(backup.status, 0) << backup.err;
    EXPECT_EQ(backup.err, "");
    std::vector<std::string> expectedLines = {"Interface has version 107",
                                              "Start controller backup."};
    for (const char* name : e2e::SET_NAMES) {
        expectedLines.push_back(std::string("Backup data from ") + name + " ...");
        expectedLines.push_back(std::string("  ") + name + " ...finished.");
    }
    expectedLines.insert(expectedLines.end(),
                         {"Backup of the controller finished.", "Controller backup finished."});
    const auto lines = splitLines(backup.out);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + expectedLines.size()),
              expectedLines);
    EXPECT_EQ(testsupport::readFile(backupFile), expectedFile(107, original, *source));
    const std::string expectedBackupFile = testsupport::readFile(backupFile);
    struct stat info;
    ASSERT_EQ(stat(backupFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::vector<std::string> wire = {hex("\x01\x07\x00"s),
                                     hex("\x01\x09\x04\x06\x00\x00\x00secret"s)};
    for (char id = 0; id < 4; ++id) {
        wire.push_back(hex(std::string("\x01\x00", 2) + id));
    }
    wire.push_back(hex("\x01\x03\x00"s));
    EXPECT_EQ(source->frames(11574), wire);
    source.reset();

    // Restore into a controller that holds other data: afterwards it holds
    // the file's data sets, sent as one frame each.
    auto target =
        startSim({"--interface-version", "107", "--password", "secret", "--seed", "99"}, "target");
    ASSERT_NE(e2e::siteSets(*target), original);
    auto restore = tool("--restore", "secret", 3);
    ASSERT_EQ(restore.status, 0) << restore.err;
    std::vector<std::string> restoreLines = {"Start controller restore."};
    for (const char* name : e2e::SET_NAMES) {
        restoreLines.push_back(std::string("Restored ") + name);
    }
    restoreLines.insert(restoreLines.end(), {"Restore of the controller data finished",
                                             "Controller restore finished."});
    const auto restored = splitLines(restore.out);
    EXPECT_EQ(std::vector<std::string>(restored.begin(), restored.begin() + restoreLines.size()),
              restoreLines);
    EXPECT_EQ(e2e::siteSets(*target), original);
    const auto frames = target->frames(11574);
    ASSERT_EQ(frames.size(), 7u);
    for (int id = 0; id < 4; ++id) {
        const std::string& bytes = original.at(e2e::SET_NAMES[id]);
        EXPECT_EQ(frames[2 + id], hex(std::string("\x01\x01", 2) + char(id) +
                                            littleEndian32(bytes.size()) + bytes));
    }
    EXPECT_EQ(frames.back(), hex("\x01\x03\x00"s));
    EXPECT_EQ(testsupport::readFile(backupFile), expectedBackupFile)
        << "a restore leaves the file as it was";
}

TEST_F(E2eController, RestoreRefusesBadFilesBeforeSendingData) {
    auto sim = startSim({"--password", "pw", "--sizes", "4,4,4,4"});
    ASSERT_EQ(tool("--backup", "pw", 1).status, 0);
    const std::string good = testsupport::readFile(backupFile);

    auto restoreWith = [&](const std::string& file, int verbosity = 1) {
        testsupport::writeFile(backupFile, file);
        return tool("--restore", "pw", verbosity);
    };
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string changed = good;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    const size_t framesBefore = sim->frames(11574).size();

    // Larger than any backup can be (a sparse file): refused before the
    // controller is even asked for its version.
    testsupport::writeFile(backupFile, good);
    ASSERT_EQ(truncate(backupFile.c_str(), 1536LL * 1024 * 1024 + 1), 0);
    auto hugeFile = tool("--restore", "pw", 1);
    EXPECT_EQ(hugeFile.status, 7);
    EXPECT_EQ(hugeFile.err, "Backup file is corrupt.\n");
    EXPECT_EQ(sim->frames(11574).size(), framesBefore);

    auto older = restoreWith(replace("Global.Version=107", "Global.Version=103"), 2);
    EXPECT_EQ(older.status, 12);
    EXPECT_EQ(older.out, "Incompatible versions of backup file (103) and backup software.\n");
    EXPECT_EQ(older.err, "Backup file version not compatible.\n");

    auto other = restoreWith(replace("Global.Version=107", "Global.Version=108"), 2);
    EXPECT_EQ(other.status, 12);
    EXPECT_EQ(other.out, "Incompatible versions of backup file(108) and controller (107).\n");

    const auto frames = sim->frames(11574);
    for (size_t i = framesBefore; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].rfind("01 01", 0), std::string::npos) << frames[i];
    }
}

TEST_F(E2eController, PasswordLengthIsNotVisibleEither) {
    // Nothing listens on this address at first: the tool keeps trying to
    // connect, time enough to read its command line as another user would.
    auto shown = [&](const std::vector<std::string>& passwordArgs, const std::string& secret) {
        std::vector<std::string> argv = {TURSA_TOOL_BIN, "-b", "-i", address};
        argv.insert(argv.end(), passwordArgs.begin(), passwordArgs.end());
        argv.insert(argv.end(), {"-f", backupFile});
        testsupport::Process process;
        process.start(argv, {}, "", "");
        const std::string path = "/proc/" + std::to_string(process.pid()) + "/cmdline";
        std::string cmdline;
        for (int i = 0; i < 200; ++i) {
            cmdline = testsupport::readFile(path);
            // Past the exec, and past the tool's parsing of its arguments.
            if (cmdline.rfind(TURSA_TOOL_BIN, 0) == 0 && cmdline.find(secret) == std::string::npos) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const std::string limits = testsupport::readFile("/proc/" + std::to_string(process.pid()) + "/limits");
        EXPECT_NE(limits.find("Max core file size        0                    0"), std::string::npos)
            << "no core file may carry the password away:\n" << limits;
        process.stop();
        return cmdline;
    };
    const std::string expected =
        TURSA_TOOL_BIN " -b -i " + address + " --password -f " + backupFile + std::string(1, '\0');
    EXPECT_EQ(shown({"--password", "pw"}, "pw"), expected);
    EXPECT_EQ(shown({"--password", "a-much-longer-password"}, "a-much-longer"), expected);
    EXPECT_EQ(shown({"--password=hidden"}, "hidden"),
              TURSA_TOOL_BIN " -b -i " + address + " --password= -f " + backupFile + std::string(1, '\0'));
    EXPECT_EQ(shown({"-phidden"}, "hidden"),
              TURSA_TOOL_BIN " -b -i " + address + " -p -f " + backupFile + std::string(1, '\0'));
}

TEST_F(E2eController, PasswordFromTheFileThatTheEnvironmentNames) {
    auto sim = startSim({"--password", "from file", "--sizes", "4,4,4,4"});
    testsupport::writeFile(dir.file("right"), "from file\r\nsecond line\n");
    testsupport::writeFile(dir.file("wrong"), "from fil");
    auto run = [&](const std::string& passwordFile, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {TURSA_TOOL_BIN, "-b", "-i", address, "-f", backupFile};
        argv.insert(argv.end(), extra.begin(), extra.end());
        std::vector<std::string> env = e2e::compressedTime();
        env.push_back("TURSA_PASSWORD_FILE=" + passwordFile);
        testsupport::Process process;
        process.start(argv, env, dir.file("out"), dir.file("err"));
        return process.waitExit(60000).value_or(-1);
    };
    EXPECT_EQ(run(dir.file("wrong")), 3);
    EXPECT_EQ(testsupport::readFile(dir.file("err")), "Wrong password.\n");
    EXPECT_EQ(run(dir.file("wrong"), {"-p", "from file"}), 0) << "the command line's password wins";
    EXPECT_EQ(run(dir.file("missing")), 255);
    EXPECT_EQ(testsupport::readFile(dir.file("err")), "Could not read the password file.\n");
    EXPECT_EQ(run(dir.file("right")), 0) << testsupport::readFile(dir.file("err"));
}
