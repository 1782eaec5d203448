// The real binary's answers to command lines that end before any
// connection is made: texts, streams and exit statuses.
#include "e2e/ToolRun.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using e2e::runTool;

namespace {

const std::string VERSION_LINE = "Kemb Backup \"1.0.1.2-SW005\"\n";

std::string usageText() {
    return testsupport::readFile(TURSA_SOURCE_DIR "/tests/e2e/data/usage.txt");
}

class E2eCommandLine : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    e2e::ToolResult run(const std::vector<std::string>& args) {
        return runTool(args, dir.path(), false, 10000);
    }
    // A backup file in a folder that does not exist ends the run at the file
    // test, before any connection.
    std::string unwritable() { return dir.file("missing-folder/site.bak"); }
};

} // namespace

TEST_F(E2eCommandLine, VersionHelpAndNothingToDo) {
    auto none = run({});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out + none.err, "");

    auto version = run({"-V"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, VERSION_LINE);
    EXPECT_EQ(version.err, "");

    auto both = run({"--help", "--version"});
    EXPECT_EQ(both.status, 0);
    EXPECT_EQ(both.out, VERSION_LINE);

    auto help = run({"-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, usageText());
    EXPECT_EQ(e2e::splitLines(help.out).size(), 31u);
}

TEST_F(E2eCommandLine, RejectedCombinationsPrintUsageAndExit255) {
    const std::vector<std::vector<std::string>> rejected = {
        {"-b", "-r", "-f", "a.bak", "-i", "127.0.0.1", "-p", "pw"},
        {"-r", "-f", "a.bak", "-i", "127.0.0.1", "-p", "pw", "-t", "3"},
        {"-r", "-f", "a.bak", "-i", "127.0.0.1", "-p", "pw", "-m", "9"},
        {"-r", "-f", "a.bak", "-i", "127.0.0.1", "-p", "pw", "-m", "2", "-t", "9"},
        {"-b", "-f", "a.bak", "-i", "127.0.0.1", "-p", "pw", "-m", "9"},
        {"-b", "-i", "127.0.0.1", "-p", "pw"},
        {"--backup", "--ip-address", "127.0.0.1", "--password", "pw", "-f"},
        {"-b", "-f", "a.bak", "-i", "127.0.0.1", "-V"},
        // A mistyped option, a lost argument or a stray word is no success.
        {"-r", "-f", "a.bak", "-i", "127.0.0.1", "-p", "pw", "--fpm-onyl"},
        {"-x"},
        {"-r", "-f", "a.bak", "-i", "127.0.0.1", "-p", "pw", "-v"},
        {"-r", "-f", "a.bak", "-i", "127.0.0.1", "-p", "pw", "a.bak"},
        {"-r", "-f", "a.bak", "-i", "127.0.0.1", "-p", "pw", "--", "-o"},
        {"--help", "--fpm-onyl"},
    };
    for (const auto& args : rejected) {
        auto result = run(args);
        EXPECT_EQ(result.status, 255) << args[0] << " ... " << args.back();
        EXPECT_EQ(result.out, usageText()) << args.back();
    }
}

TEST_F(E2eCommandLine, NonNumericalValuesAndBadAddressEndParsing) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"-v", "-1"}, "--verbose has to be numerical [1..4].\n"},
        {{"--verbose=2x"}, "--verbose has to be numerical [1..4].\n"},
        {{"-m", "one"}, "--fpm-from has to be numerical [1..8].\n"},
        {{"--fpm-to", " 3"}, "--fpm-to has to be numerical [1..8].\n"},
        {{"-i", "localhost"}, "--ip-address is invalid.\n"},
        {{"--ip-address=10.0.0"}, "--ip-address is invalid.\n"},
        {{"-v", "0", "-i", "1.2.3.4.5"}, "--ip-address is invalid.\n"},
    };
    for (const auto& c : cases) {
        auto result = run(c.args);
        EXPECT_EQ(result.status, 255) << c.args[0];
        EXPECT_EQ(result.err, c.message);
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(E2eCommandLine, BackupFileTestAndVerbosity) {
    const std::vector<std::string> backup = {"-b", "-i", "127.0.0.1", "-p", "pw", "-f"};
    auto args = backup;
    args.push_back(unwritable());
    auto failed = run(args);
    EXPECT_EQ(failed.status, 19);
    EXPECT_EQ(failed.err, "Could not open backup file.\n");
    EXPECT_EQ(failed.out, "");

    // Verbosity 9 is clamped to 4, 0 silences even errors; the status stays.
    args.insert(args.end(), {"-v", "9"});
    EXPECT_EQ(run(args).err, "Could not open backup file.\n");
    args.back() = "0";
    auto silent = run(args);
    EXPECT_EQ(silent.status, 19);
    EXPECT_EQ(silent.out + silent.err, "");

    auto restore = run({"-r", "-i", "127.0.0.1", "-p", "pw", "-f", dir.file("none.bak")});
    EXPECT_EQ(restore.status, 19);
    EXPECT_EQ(restore.err, "Could not open backup file.\n");
    struct stat info;
    EXPECT_NE(stat(dir.file("none.bak").c_str(), &info), 0) << "a restore creates no file";

    // The destination is not looked at for a backup; an empty --fpm-from is
    // treated as not given.
    auto backupWithTo =
        run({"-b", "-i", "127.0.0.1", "-p", "pw", "-t", "9", "--fpm-from=", "-f", unwritable()});
    EXPECT_EQ(backupWithTo.status, 19);
}

TEST_F(E2eCommandLine, LogFileIsAppendedOrRefused) {
    const std::string log = dir.file("tool.log");
    testsupport::writeFile(log, "earlier line\n");
    const std::vector<std::string> args = {"-b", "-i",         "127.0.0.1", "-p", "pw",
                                           "-f", unwritable(), "-F",        log};
    for (int run_ = 0; run_ < 2; ++run_) {
        auto result = run(args);
        EXPECT_EQ(result.status, 19);
        EXPECT_EQ(result.out + result.err, "");
    }
    EXPECT_EQ(testsupport::readFile(log),
              "earlier line\nCould not open backup file.\nCould not open backup file.\n");

    // Refused at once, the file as it was: a missing folder, a FIFO (which
    // would block the run until someone reads it), another user's file.
    const std::string fifo = dir.file("fifo.log");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string foreign = dir.file("foreign.log");
    testsupport::writeFile(foreign, "not yours\n");
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    }
    for (const std::string& name : {dir.file("no/such/dir.log"), fifo, foreign}) {
        if (name == foreign && !root) {
            continue; // only root can hand a file to another user
        }
        auto refused = run({"--log-file", name, "-f", "x"});
        EXPECT_EQ(refused.status, 16) << name;
        EXPECT_EQ(refused.err, "Could not user logfile " + name + "\n");
    }
    EXPECT_EQ(testsupport::readFile(foreign), "not yours\n");

    // A log file the tool creates is its owner's alone.
    auto created = run({"--log-file", dir.file("new.log"), "-f", "x"});
    EXPECT_EQ(created.status, 0);
    struct stat info;
    ASSERT_EQ(stat(dir.file("new.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}
