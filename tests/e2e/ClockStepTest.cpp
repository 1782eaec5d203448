// A technician's laptop whose clock NTP steps by an hour while the tool
// runs: neither the pauses nor the time-outs may move. Real time, since the
// monotonic clock is left alone here: two backups side by side at a
// terminal, the wall clock of one set back and of the other forward, once
// in the pause before the bus and once more in the template transfer. An
// unstepped run takes about 105 s (70 s pause, three lookups of seven
// absent modules at 1 s each).
#include "support/Loopback.h"
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using testsupport::SimProcess;

TEST(E2eClock, WallClockStepsMoveNeitherPausesNorTimeOuts) {
    struct Run {
        char sign = '-';
        testsupport::TempDir dir;
        SimProcess sim;
        testsupport::Process tool;
        int steps = 0;
        size_t framesAtStep = 0;
    } runs[2];
    runs[1].sign = '+';
    // At a terminal, as a technician runs it: the pauses count down on the
    // progress line. Both tools share it; it is drained below.
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
    const auto start = std::chrono::steady_clock::now();
    for (unsigned i = 0; i < 2; ++i) {
        Run& run = runs[i];
        const std::string address = testsupport::reserveLoopbackAddress(i);
        ASSERT_FALSE(address.empty());
        ASSERT_TRUE(
            run.sim.start(address, {"--fpms", "1", "--password", "pw"}, run.dir.file("sim")));
        ASSERT_TRUE(testsupport::writeFile(run.dir.file("offset"), "+0"));
        run.tool.start(
            {TURSA_TOOL_BIN, "-b", "-i", address, "-p", "pw", "-f", run.dir.file("site.bak")},
            {std::string("LD_PRELOAD=") + TURSA_FAKETIME_LIB,
             "FAKETIME_TIMESTAMP_FILE=" + run.dir.file("offset"), "FAKETIME_NO_CACHE=1",
             "FAKETIME_DONT_FAKE_MONOTONIC=1", "ASAN_OPTIONS=verify_asan_link_order=0"},
            run.dir.file("out"), ptsname(terminal));
    }
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(150) &&
           (runs[0].tool.running() || runs[1].tool.running())) {
        for (Run& run : runs) {
            run.tool.waitExit(0);
            if (run.steps == 2) {
                continue;
            }
            const size_t frames = run.sim.frames(SimProcess::kBusPort).size();
            const bool dataClosed = run.sim.hasEvent(SimProcess::kDataPort, "close");
            if ((run.steps == 0 && dataClosed) || (run.steps == 1 && frames > 200)) {
                // Replaced in one rename: the tool never reads half an offset.
                run.framesAtStep = frames;
                testsupport::writeFile(run.dir.file("next"),
                                       run.sign + std::to_string(++run.steps) + "h");
                std::rename(run.dir.file("next").c_str(), run.dir.file("offset").c_str());
            }
        }
        char sink[4096];
        while (read(terminal, sink, sizeof sink) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(terminal);
    for (Run& run : runs) {
        SCOPED_TRACE(std::string("clock stepped ") + run.sign);
        EXPECT_EQ(run.tool.waitExit(0), std::optional<int>(0))
            << "not ended within 150 s, or failed";
        EXPECT_EQ(run.steps, 2);
        EXPECT_GT(run.sim.frames(SimProcess::kBusPort).size(), run.framesAtStep + 100)
            << "the second step came within the transfer";
        // The simulator's clock runs in real time.
        const auto events = run.sim.events();
        int64_t closed = -1;
        int64_t opened = -1;
        for (const auto& event : events) {
            if (event.what == "close" && event.port == SimProcess::kDataPort) {
                closed = event.ms;
            } else if (event.what == "open" && event.port == SimProcess::kBusPort && opened < 0) {
                opened = event.ms;
            }
        }
        EXPECT_GE(opened - closed, 70000 - 10) << "the pause before the bus";
        testsupport::Process inspector;
        inspector.start({TURSA_INSPECT_BIN, run.dir.file("site.bak")}, {}, "", "");
        EXPECT_EQ(inspector.waitExit(10000), std::optional<int>(0)) << "a complete backup";
    }
}
