// Complete runs of the real tool against the simulated controller with its
// modules behind the bus gateway, under compressed time: what lands in the
// file and in the modules, the frames to the controller and the telegrams
// on the bus byte for byte, the pauses on the simulator's clock, the lines
// the tool prints, and the password that never shows.
#include "e2e/BackupFile.h"
#include "e2e/ToolRun.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using e2e::Module;
using e2e::runTool;
using e2e::splitLines;
using testsupport::readFile;
using namespace std::string_literals;

namespace {

const int SPEEDUP = 20; // the tool's clock runs this much faster under libfaketime
const int TEMPLATE_BLOCKS = 485;

// A bus telegram as the simulator logged it, decoded by the test itself.
struct Telegram {
    int destination = -1;
    int function = -1;
    std::string info;
    std::string line; // the whole frame as logged

    long dataAddress() const {
        if (info.size() < 3) {
            return -1;
        }
        auto byte = [&](int i) { return static_cast<long>(static_cast<unsigned char>(info[i])); };
        return byte(0) | byte(1) << 8 | byte(2) << 16;
    }
    bool operator==(const Telegram& other) const { return line == other.line; }
};

std::string fromHex(const std::string& line) {
    std::istringstream in(line);
    std::string bytes;
    for (std::string pair; in >> pair;) {
        bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
    }
    return bytes;
}

Telegram decode(const std::string& line) {
    const std::string frame = fromHex(line);
    std::string body;
    for (size_t i = 5; i < frame.size() && frame[i] != 0x03; ++i) {
        body += frame[i] == 0x10 ? frame[++i] : frame[i];
    }
    Telegram telegram;
    telegram.line = line;
    if (body.size() >= 4) {
        telegram.destination = static_cast<unsigned char>(body[0]);
        telegram.function = static_cast<unsigned char>(body[1]);
        telegram.info = body.substr(3, body.size() - 4); // without the checksum
    }
    return telegram;
}

// A repeated request (a retry after a missing reply, and the programming
// mode telegrams, which go out three times) counts once.
std::vector<Telegram> busTelegrams(const testsupport::SimProcess& sim, bool repeats = false) {
    std::vector<Telegram> telegrams;
    for (const std::string& line : sim.frames(testsupport::SimProcess::kBusPort)) {
        Telegram telegram = decode(line);
        if (repeats || telegrams.empty() || !(telegrams.back() == telegram)) {
            telegrams.push_back(telegram);
        }
    }
    return telegrams;
}

std::vector<std::string> shape(const std::vector<Telegram>& telegrams) {
    std::vector<std::string> result;
    char text[32];
    for (const Telegram& telegram : telegrams) {
        snprintf(text, sizeof(text), "%02x:%02x", telegram.destination, telegram.function);
        result.push_back(text);
    }
    return result;
}

int countOf(const std::vector<Telegram>& telegrams, int destination, int function) {
    return static_cast<int>(std::count_if(telegrams.begin(), telegrams.end(), [&](const Telegram& t) {
        return t.destination == destination && t.function == function;
    }));
}

std::string littleEndian32(size_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return bytes;
}

class E2eBus : public ::testing::Test {
protected:
    std::string address = testsupport::reserveLoopbackAddress();
    testsupport::TempDir dir;
    std::string backupFile = dir.file("site.bak");

    void SetUp() override { ASSERT_FALSE(address.empty()) << "no free loopback address"; }

    std::unique_ptr<testsupport::SimProcess> startSim(const std::vector<std::string>& args,
                                                      const std::string& name = "sim") {
        auto sim = std::make_unique<testsupport::SimProcess>();
        EXPECT_TRUE(sim->start(address, args, dir.file(name))) << "simulator not ready";
        return sim;
    }

    e2e::ToolResult tool(const std::string& task, const std::string& password, int verbosity,
                         std::vector<std::string> extra = {}, int speedup = SPEEDUP) {
        std::vector<std::string> args = {task, "-i", address, "-p", password, "-f", backupFile,
                                         "-v", std::to_string(verbosity)};
        args.insert(args.end(), extra.begin(), extra.end());
        return runTool(args, dir.path(), true, 240000, speedup);
    }

    // The backup file a run against these data sets and the simulator's
    // one module must write.
    static std::string expectedFile(int version, const std::map<std::string, std::string>& sets,
                                    const testsupport::SimProcess& sim) {
        return e2e::expectedBackup(version, sets, 0xC0, e2e::siteModules(sim, {1}));
    }
};

// Milliseconds on the simulator's clock between the first event containing
// `from` and the first later one containing `to`.
long gapMs(const std::vector<testsupport::SimEvent>& events, int fromPort,
           const std::string& from, int toPort, const std::string& to, size_t start = 0) {
    for (size_t i = start; i < events.size(); ++i) {
        if (events[i].port == fromPort && events[i].what.find(from) != std::string::npos) {
            for (size_t j = i + 1; j < events.size(); ++j) {
                if (events[j].port == toPort && events[j].what.find(to) != std::string::npos) {
                    return static_cast<long>(events[j].ms - events[i].ms);
                }
            }
        }
    }
    return -1;
}

} // namespace

TEST_F(E2eBus, FullBackupOfEightModules) {
    auto sim = startSim({"--fpms", "1,2,3,4,5,6,7,8", "--seed", "11", "--password", "pw"});
    const std::vector<int> all = {1, 2, 3, 4, 5, 6, 7, 8};
    const auto before = e2e::siteModules(*sim, all);
    // Compressed less, so that the pauses stand out from a busy machine's
    // scheduling delays, which may make the simulator log an event late.
    const int speedup = 5;
    auto result = tool("--backup", "pw", 4, {}, speedup);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(backupFile), e2e::expectedBackup(107, e2e::siteSets(*sim), 0xC0, before));
    EXPECT_EQ(e2e::siteModules(*sim, all).at(8).templates, before.at(8).templates);

    std::vector<std::string> lines = splitLines(result.out);
    ASSERT_GT(lines.size(), 12u);
    std::vector<std::string> busLines(lines.begin() + 12, lines.end());
    std::vector<std::string> expectedLines = {"Start finger print backup."};
    for (int number : all) {
        expectedLines.push_back("Backup finger prints from fpm " + std::to_string(number));
        expectedLines.push_back("Backup finger prints from fpm " + std::to_string(number) + " finished.");
    }
    expectedLines.insert(expectedLines.end(), {"Backup of the FPMs finished.",
                                               "Finger print backup finished.", "Reset melko bus..."});
    EXPECT_EQ(busLines, expectedLines);

    // Lookup, programming mode, per module CompDB and CRC, every block read
    // (twice: repeats are folded here) and echoed with the bytes read,
    // configuration, CRC again, then the closing phase.
    const auto telegrams = busTelegrams(*sim);
    const auto frames = sim->frames(testsupport::SimProcess::kBusPort);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0], "01 01 07 00 02 c1 02 f0 00 4d 03");
    std::vector<std::string> expectedShape;
    for (int number : all) {
        expectedShape.push_back("c" + std::to_string(number) + ":02");
    }
    expectedShape.push_back("ff:07");
    for (int number : all) {
        const std::string module = "c" + std::to_string(number);
        expectedShape.insert(expectedShape.end(), {module + ":71", module + ":06"});
        for (int block = 0; block < TEMPLATE_BLOCKS; ++block) {
            expectedShape.insert(expectedShape.end(), {module + ":03", module + ":04"});
        }
        expectedShape.insert(expectedShape.end(), {module + ":5e", module + ":06"});
    }
    // The closing phase: programming mode off (three times, counted once), then the bus reset.
    expectedShape.insert(expectedShape.end(), {"ff:08", "cf:01"});
    ASSERT_EQ(shape(telegrams), expectedShape);

    const std::string fpm2 = before.at(2).templates;
    const auto everyTelegram = busTelegrams(*sim, true);
    EXPECT_EQ(countOf(everyTelegram, 0xFF, 0x07), 3);
    EXPECT_EQ(countOf(everyTelegram, 0xFF, 0x08), 3);
    size_t index = 8 + 1 + (2 + 2 * TEMPLATE_BLOCKS + 2) + 2; // first read of FPM 2
    EXPECT_NE(telegrams[index].line.find(" 02 c2 10 03 f0 00 00 10 03 00 80 "), std::string::npos)
        << "stuffed function byte and address: " << telegrams[index].line;
    for (int block = 0; block < TEMPLATE_BLOCKS; ++block, index += 2) {
        const long offset = 128L * block;
        const int size = block == TEMPLATE_BLOCKS - 1 ? 48 : 128;
        ASSERT_EQ(telegrams[index].dataAddress(), 0x30000 + offset);
        ASSERT_EQ(static_cast<unsigned char>(telegrams[index].info[4]), size);
        ASSERT_EQ(telegrams[index + 1].dataAddress(), 0x30000 + offset);
        ASSERT_EQ(telegrams[index + 1].info.substr(5), fpm2.substr(offset, size)) << "block " << block;
    }
    EXPECT_EQ(countOf(everyTelegram, 0xC2, 0x03), 2 * TEMPLATE_BLOCKS) << "every block read twice";
    for (int number : all) {
        EXPECT_FALSE(sim->fpmProgMode(number)) << number;
    }

    // The pauses, measured by the simulator: 2 s after connecting to the
    // controller, 70 s before the bus connection, 5 s after it, 500 ms
    // after each programming-mode telegram, 2 s after each template transfer.
    const auto events = sim->events();
    const int data = testsupport::SimProcess::kDataPort;
    const int bus = testsupport::SimProcess::kBusPort;
    auto atLeastHalfOf = [speedup](long toolMs) { return toolMs / speedup / 2; };
    EXPECT_GE(gapMs(events, data, "open", data, "frame"), atLeastHalfOf(2000));
    EXPECT_GE(gapMs(events, data, "close", bus, "open"), atLeastHalfOf(70000));
    EXPECT_GE(gapMs(events, bus, "open", bus, "frame"), atLeastHalfOf(5000));
    EXPECT_GE(gapMs(events, bus, " 02 ff 07 f0", bus, " 02 ff 07 f0"), atLeastHalfOf(500));
    EXPECT_GE(gapMs(events, bus, " 02 c1 04 f0 00 f2 10 03 00 30 ", bus, " 02 c1 5e f0"), atLeastHalfOf(2000));
}

TEST_F(E2eBus, RestoreOfEveryModuleAndOfOneModule) {
    // Configurations whose write telegram needs a filler before the checksum.
    auto source = startSim({"--fpms", "1,2,3", "--seed", "21", "--password", "pw", "--fpm-config", "1:00000000eb",
                            "--fpm-config", "2:00000000dd", "--fpm-config", "3:00000000dd"},
                           "source");
    ASSERT_EQ(tool("--backup", "pw", 1).status, 0);
    const auto original = e2e::siteModules(*source, {1, 2, 3});
    source.reset();

    auto target = startSim({"--fpms", "1,2,3", "--seed", "22", "--password", "pw"}, "target");
    auto restore = tool("--restore", "pw", 4);
    ASSERT_EQ(restore.status, 0) << restore.err;
    for (int number : {1, 2, 3}) {
        EXPECT_EQ(target->fpmTemplates(number), original.at(number).templates) << number;
        EXPECT_EQ(target->fpmConfig(number), original.at(number).config) << number;
        EXPECT_FALSE(target->fpmProgMode(number));
    }
    const auto lines = splitLines(restore.out);
    for (const char* line : {"Start finger print restore.", "Restore finger prints to c2",
                             "Restore finger prints to c2 finished.", "Restore of the FPM data finished",
                             "Finger print restore finished.", "Reset melko bus..."}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
    const auto frames = target->frames(testsupport::SimProcess::kBusPort);
    EXPECT_NE(std::find(frames.begin(), frames.end(),
                        "01 01 0d 00 02 c1 60 f0 01 00 00 00 00 eb 10 f3 03"), frames.end());
    EXPECT_NE(std::find(frames.begin(), frames.end(),
                        "01 01 0d 00 02 c2 60 f0 01 00 00 00 00 dd 10 00 03"), frames.end());
    const auto events = target->events();
    const int bus = testsupport::SimProcess::kBusPort;
    EXPECT_GE(gapMs(events, bus, " 02 c2 5a f0", bus, "frame"), 10000 / SPEEDUP - 10)
        << "10 s after a clean";
    target.reset();

    // Module 1 of the file onto module 3, whose configuration then does not
    // fit module 1's CRC.
    auto single = startSim({"--fpms", "1,2,3", "--seed", "23", "--password", "pw", "--blank-fpms", "--fpm-config",
                            "1:00000000dd", "--fpm-config", "2:00000000dd", "--fpm-config",
                            "3:00000000dd"},
                           "single");
    auto oneToThree = tool("--restore", "pw", 2, {"--fpm-only", "--fpm-from", "1", "--fpm-to", "3"});
    EXPECT_EQ(oneToThree.status, 9);
    EXPECT_EQ(oneToThree.out, "FPM 3 has the wrong CRC.\n");
    EXPECT_EQ(oneToThree.err, "One ore more FPM has a wrong CRC. [3]\n");
}

TEST_F(E2eBus, BackupAndRestoreWithLoginAtVersion107) {
    auto source = startSim({"--fpms", "1", "--interface-version", "107", "--password", "secret", "--seed", "7"});
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

    std::vector<std::string> wire = {e2e::hexOf("\x01\x07\x00"s, " "),
                                     e2e::hexOf("\x01\x09\x04\x06\x00\x00\x00secret"s, " ")};
    for (char id = 0; id < 4; ++id) {
        wire.push_back(e2e::hexOf(std::string("\x01\x00", 2) + id, " "));
    }
    wire.push_back(e2e::hexOf("\x01\x03\x00"s, " "));
    EXPECT_EQ(source->frames(11574), wire);
    source.reset();

    // Restore into a controller that holds other data: afterwards it holds
    // the file's data sets, sent as one frame each.
    auto target =
        startSim({"--fpms", "1", "--interface-version", "107", "--password", "secret", "--seed", "99"}, "target");
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
        EXPECT_EQ(frames[2 + id], e2e::hexOf(std::string("\x01\x01", 2) + char(id) +
                                            littleEndian32(bytes.size()) + bytes, " "));
    }
    EXPECT_EQ(frames.back(), e2e::hexOf("\x01\x03\x00"s, " "));
    EXPECT_EQ(testsupport::readFile(backupFile), expectedBackupFile)
        << "a restore leaves the file as it was";
}

TEST_F(E2eBus, RestoreRefusesBadFilesBeforeSendingData) {
    auto sim = startSim({"--fpms", "1", "--password", "pw", "--sizes", "4,4,4,4"});
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

TEST_F(E2eBus, PasswordLengthIsNotVisibleEither) {
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

TEST_F(E2eBus, PasswordFromTheFileThatTheEnvironmentNames) {
    auto sim = startSim({"--fpms", "1", "--password", "from file", "--sizes", "4,4,4,4"});
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
