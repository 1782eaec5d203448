// The backup and log files against other users of their folders (a link
// swapped in for the run's temporary file, links planted in advance), full
// disks and memory limits: the tool, often run as root, must not write
// through another user's link, nor leave a broken file behind.
#include "e2e/ToolRun.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
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

// A simulated site, an earlier backup beside which the tool works, and the
// tool started on it, optionally under a resource limit (through prlimit).
class E2eFileSafety : public ::testing::Test {
protected:
    std::string address = testsupport::reserveLoopbackAddress();
    testsupport::TempDir dir;
    testsupport::SimProcess sim;
    testsupport::Process tool;
    const std::string earlier = "Global.Version=107\nprevious=site\n\n";

    void startSite(std::vector<std::string> simArgs = {}) {
        ASSERT_FALSE(address.empty());
        simArgs.insert(simArgs.end(), {"--fpms", "1", "--password", "pw"});
        ASSERT_TRUE(sim.start(address, simArgs, dir.file("sim")));
        testsupport::writeFile(dir.file("site.bak"), earlier);
    }

    void startBackup(const std::string& limit = "", const std::string& target = "") {
        std::vector<std::string> argv = {TURSA_TOOL_BIN, "-b", "-i", address, "-p", "pw", "-f",
                                         target.empty() ? dir.file("site.bak") : target};
        if (!limit.empty()) {
            argv.insert(argv.begin(), {"/usr/bin/prlimit", limit, "--"});
        }
        tool.start(argv, e2e::compressedTime(), dir.file("out"), dir.file("err"));
    }

    // Any run against the site, with the tool's arguments after its address
    // and password.
    void startTool(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {TURSA_TOOL_BIN, "-i", address, "-p", "pw"};
        argv.insert(argv.end(), args.begin(), args.end());
        tool.start(argv, e2e::compressedTime(), dir.file("out"), dir.file("err"));
    }

    int exitStatus() {
        auto status = tool.waitExit(60000);
        EXPECT_TRUE(status.has_value()) << "the tool did not end";
        return status.value_or(-1);
    }

    static std::string logRefusal(const std::string& name) {
        return "Could not user logfile " + name + "\n";
    }

    std::string errors() const { return testsupport::readFile(dir.file("err")); }
    bool earlierFileKept() const { return testsupport::readFile(dir.file("site.bak")) == earlier; }
};

} // namespace

TEST_F(E2eFileSafety, SwappedTemporaryFileIsNeverWrittenThrough) {
    startSite();
    testsupport::writeFile(dir.file("victim"), "precious\n");
    startBackup();
    testsupport::waitUntil([&] { return sim.hasEvent(testsupport::SimProcess::kDataPort, "close"); }, 20);
    const std::string temporary = temporaryIn(dir.path(), "site.bak");
    ASSERT_FALSE(temporary.empty()) << "no temporary file beside the target";
    ASSERT_EQ(unlink(temporary.c_str()), 0);
    ASSERT_EQ(symlink(dir.file("victim").c_str(), temporary.c_str()), 0);

    EXPECT_EQ(exitStatus(), 19);
    EXPECT_EQ(testsupport::readFile(dir.file("victim")), "precious\n");
    EXPECT_TRUE(earlierFileKept());
    char link[4096] = {};
    EXPECT_EQ(readlink(dir.file("site.bak").c_str(), link, sizeof(link)), -1) << "the target is no link";
    EXPECT_EQ(errors(), "Could not open backup file.\n");
}

TEST_F(E2eFileSafety, RunningOutOfMemoryIsACleanFailure) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
    // Data sets of 16 and 64 MiB, in a process limited to 100 MiB of
    // address space: the first fits, the second cannot.
    startSite({"--sizes", "16777216,67108864,16,16"});
    startBackup("--as=104857600");
    EXPECT_EQ(exitStatus(), 20) << "not an abort";
    // What was collected is kept when memory allows storing it.
    const std::string partialLine = "Partial backup kept in " + dir.file("site.bak") + ".partial\n";
    const bool kept = e2e::exists(dir.file("site.bak.partial"));
    EXPECT_EQ(errors(), "Memory error\n" + (kept ? partialLine : ""));
    EXPECT_TRUE(earlierFileKept());
    EXPECT_EQ(temporaryIn(dir.path(), "site.bak"), "") << "no temporary file is left";
}

TEST_F(E2eFileSafety, FileSizeLimitIsOneClearFailure) {
    // Past 4 KiB every store fails as on a full disk, and SIGXFSZ must not
    // kill the run: one error line, the earlier file intact, nothing
    // truncated presented as a backup.
    startSite();
    startBackup("--fsize=4096");
    EXPECT_EQ(exitStatus(), 19);
    EXPECT_EQ(errors(), "Could not open backup file.\n");
    EXPECT_TRUE(earlierFileKept());
    EXPECT_FALSE(e2e::exists(dir.file("site.bak.partial")));
    EXPECT_EQ(temporaryIn(dir.path(), "site.bak"), "");
}

TEST_F(E2eFileSafety, PartialFileBesideALinkToAnotherFileSystem) {
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
    startSite({"--refuse-bus"});
    testsupport::writeFile(real, earlier);
    ASSERT_EQ(symlink(real.c_str(), dir.file("link.bak").c_str()), 0);
    startBackup("", dir.file("link.bak"));
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

TEST_F(E2eFileSafety, LinkPlantedByAnotherUserIsNeverFollowed) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can hand a link to another user";
    }
    // In a sticky folder open to everyone, another user has planted links to
    // a file only root may read and to a name where root has no file yet;
    // root's own link there leads on to the other user's.
    startSite();
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
        {{"-b", "-f", dir.file("site.bak"), "-F", logLink}, 16, logRefusal(logLink)},
        {{"-r", "-f", dir.file("site.bak"), "-F", newLogLink}, 16, logRefusal(newLogLink)},
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
