#include "support/Loopback.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::Process;

TEST(SimSupport, ProcessReportsStatusSignalAndPassesEnvironment) {
    testsupport::TempDir dir;
    Process shell;
    ASSERT_TRUE(shell.start({"/bin/sh", "-c", "echo \"$TURSA_PROBE\"; echo oops >&2; exit 3"},
                            {"TURSA_PROBE=hello"}, dir.file("out"), dir.file("err")));
    EXPECT_EQ(shell.waitExit(2000), std::optional<int>(3));
    EXPECT_EQ(testsupport::readFile(dir.file("out")), "hello\n");
    EXPECT_EQ(testsupport::readFile(dir.file("err")), "oops\n");

    Process sleeper;
    ASSERT_TRUE(sleeper.start({"/bin/sleep", "10"}, {}, "", ""));
    EXPECT_EQ(sleeper.waitExit(50), std::nullopt);
    EXPECT_EQ(sleeper.stop(), std::optional<int>(-1000 - SIGTERM));
}

TEST(SimSupport, LoopbackAddressIsHeldForThisProcessOnly) {
    std::string address = testsupport::reserveLoopbackAddress();
    ASSERT_EQ(address.rfind("127.0.0.", 0), 0u);
    int host = std::stoi(address.substr(8));
    EXPECT_GE(host, 2);
    EXPECT_LE(host, 250);
    EXPECT_EQ(testsupport::reserveLoopbackAddress(), address);

    // Another process must find the address taken.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = open(("/tmp/tursa-test-" + address + ".lock").c_str(), O_RDWR);
        _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
