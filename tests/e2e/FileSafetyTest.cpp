// Another user of the backup file's folder swaps a symbolic link in for the
// run's temporary file while the tool waits 70 s before the bus: the tool,
// often run as root, must not write through it.
#include "e2e/ToolRun.h"
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <thread>
#include <unistd.h>

namespace {

// The hidden temporary file the tool made beside the target, or "".
std::string temporaryIn(const std::string& dir, const std::string& target) {
    std::string found;
    DIR* folder = opendir(dir.c_str());
    for (dirent* entry = folder ? readdir(folder) : nullptr; entry != nullptr; entry = readdir(folder)) {
        if (std::string(entry->d_name).rfind("." + target + ".", 0) == 0) {
            found = dir + "/" + entry->d_name;
        }
    }
    if (folder != nullptr) {
        closedir(folder);
    }
    return found;
}

bool controllerClosed(const testsupport::SimProcess& sim) {
    for (const auto& event : sim.events()) {
        if (event.port == testsupport::SimProcess::kDataPort && event.what == "close") {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(E2eFileSafety, SwappedTemporaryFileIsNeverWrittenThrough) {
    const std::string address = testsupport::reserveLoopbackAddress();
    ASSERT_FALSE(address.empty());
    testsupport::TempDir dir;
    testsupport::SimProcess sim;
    ASSERT_TRUE(sim.start(address, {"--fpms", "1", "--password", "pw"}, dir.file("sim")));
    const std::string earlier = "Global.Version=107\nprevious=site\n\n";
    testsupport::writeFile(dir.file("site.bak"), earlier);
    testsupport::writeFile(dir.file("victim"), "precious\n");

    testsupport::Process tool;
    tool.start({TURSA_TOOL_BIN, "-b", "-i", address, "-p", "pw", "-f", dir.file("site.bak")},
               e2e::compressedTime(), dir.file("out"), dir.file("err"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!controllerClosed(sim) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string temporary = temporaryIn(dir.path(), "site.bak");
    ASSERT_FALSE(temporary.empty()) << "no temporary file beside the target";
    ASSERT_EQ(unlink(temporary.c_str()), 0);
    ASSERT_EQ(symlink(dir.file("victim").c_str(), temporary.c_str()), 0);

    auto status = tool.waitExit(60000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(testsupport::readFile(dir.file("victim")), "precious\n");
    EXPECT_EQ(testsupport::readFile(dir.file("site.bak")), earlier);
    char link[4096] = {};
    EXPECT_EQ(readlink(dir.file("site.bak").c_str(), link, sizeof(link)), -1) << "the target is no link";
    EXPECT_EQ(*status, 19);
    EXPECT_EQ(testsupport::readFile(dir.file("err")), "Could not open backup file.\n");
}

TEST(E2eFileSafety, RunningOutOfMemoryIsACleanFailure) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
    const std::string address = testsupport::reserveLoopbackAddress();
    ASSERT_FALSE(address.empty());
    testsupport::TempDir dir;
    testsupport::SimProcess sim;
    // Two data sets of 16 MiB, in a process limited to 100 MiB of address space.
    ASSERT_TRUE(sim.start(address, {"--fpms", "1", "--password", "pw", "--sizes", "16777216,16777216,16,16"},
                          dir.file("sim")));
    const std::string earlier = "Global.Version=107\nprevious=site\n\n";
    testsupport::writeFile(dir.file("site.bak"), earlier);
    testsupport::Process tool;
    tool.start({"/usr/bin/prlimit", "--as=104857600", "--", TURSA_TOOL_BIN, "-b", "-i", address, "-p", "pw", "-f",
                dir.file("site.bak")},
               e2e::compressedTime(), dir.file("out"), dir.file("err"));
    auto status = tool.waitExit(60000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 20) << "not an abort";
    // What was collected is kept when memory allows storing it.
    const std::string partialLine = "Partial backup kept in " + dir.file("site.bak") + ".partial\n";
    const bool kept = e2e::exists(dir.file("site.bak.partial"));
    EXPECT_EQ(testsupport::readFile(dir.file("err")), "Memory error\n" + (kept ? partialLine : ""));
    EXPECT_EQ(testsupport::readFile(dir.file("site.bak")), earlier);
    EXPECT_EQ(temporaryIn(dir.path(), "site.bak"), "") << "no temporary file is left";
}

TEST(E2eFileSafety, FileSizeLimitIsOneClearFailure) {
    // Past 4 KiB every store fails as on a full disk, and SIGXFSZ must not
    // kill the run: one error line, the earlier file intact, nothing
    // truncated presented as a backup.
    const std::string address = testsupport::reserveLoopbackAddress();
    ASSERT_FALSE(address.empty());
    testsupport::TempDir dir;
    testsupport::SimProcess sim;
    ASSERT_TRUE(sim.start(address, {"--fpms", "1", "--password", "pw"}, dir.file("sim")));
    const std::string earlier = "Global.Version=107\nprevious=site\n\n";
    testsupport::writeFile(dir.file("site.bak"), earlier);
    testsupport::Process tool;
    tool.start({"/usr/bin/prlimit", "--fsize=4096", "--", TURSA_TOOL_BIN, "-b", "-i", address, "-p", "pw", "-f",
                dir.file("site.bak")},
               e2e::compressedTime(), dir.file("out"), dir.file("err"));
    auto status = tool.waitExit(60000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 19);
    EXPECT_EQ(testsupport::readFile(dir.file("err")), "Could not open backup file.\n");
    EXPECT_EQ(testsupport::readFile(dir.file("site.bak")), earlier);
    EXPECT_FALSE(e2e::exists(dir.file("site.bak.partial")));
    EXPECT_EQ(temporaryIn(dir.path(), "site.bak"), "");
}
