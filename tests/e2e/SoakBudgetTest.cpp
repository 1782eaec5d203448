// The soak's time bound read from events logs written by hand: what each
// line adds, the telegram functions read through byte stuffing, and the
// phase named by the last request before the closing telegrams.
#include "e2e/SoakBudget.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

const int kSpeedup = 20;

class SoakBudgetTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string log = dir.file("events.log");
    std::string lines;
    e2e::SoakBudget budget{log, kSpeedup};

    // Appends the lines to the log and returns how much the bound grew.
    long grows(const std::string& more) {
        const long before = budget.boundMs();
        lines += more;
        testsupport::writeFile(log, lines);
        budget.update();
        return budget.boundMs() - before;
    }
};

// Bus frames: 01 01 LL LL, STX, destination, function (0x03 stuffed), source.
const char* const kReadBlock = "1 11575 frame 01 01 0c 00 02 c1 10 03 f0 00 00 03 00 80 0a 03\n";
const char* const kClean = "1 11575 frame 01 01 08 00 02 c2 5a f0 00 00 b4 03\n";
const char* const kProgModeOff = "1 11575 frame 01 01 06 00 02 ff 08 f0 09 03\n";

} // namespace

TEST_F(SoakBudgetTest, SoundRepliesCostOnlyTheirPausesBentOnesTheirTimeOuts) {
    // A request costs 3 ms of exchange; its own time-out is what the run may be waiting in now.
    EXPECT_EQ(grows(kReadBlock), 3 + (1000 - 0) / kSpeedup);
    EXPECT_EQ(budget.phase(), "bus read block");
    EXPECT_EQ(grows(kReadBlock), 3) << "the reply came at once";
    EXPECT_EQ(grows("1 11575 hostile silence +0\n"), 1000 / kSpeedup);
    EXPECT_EQ(grows("1 11575 hostile late +150\n"), 1000 / kSpeedup + 150);
    EXPECT_EQ(grows("1 11575 hostile truncate +0\n"), (1000 + 60000) / kSpeedup);
    // A clean is followed by up to 20 s; the next wait may be the clean's 90 s.
    EXPECT_EQ(grows(kClean), 3 + 20000 / kSpeedup + (90000 - 1000) / kSpeedup);
    EXPECT_EQ(grows(kProgModeOff), 3 + 500 / kSpeedup + (300 - 90000) / kSpeedup);
    EXPECT_EQ(budget.phase(), "bus clean") << "the closing telegrams name no phase";
}

TEST_F(SoakBudgetTest, ControllerRequestsAfterABentReplyMayWaitForItsLeftovers) {
    EXPECT_EQ(grows("1 11574 open\n"), 2000 / kSpeedup);
    grows("1 11574 frame 01 07 00\n");
    EXPECT_EQ(grows("1 11574 frame 01 09 04 07 00 00 00 73 65 72 76 69 63 65\n"), 3);
    EXPECT_EQ(budget.phase(), "controller login");
    EXPECT_EQ(grows("1 11574 hostile extra +0\n"), 120000 / kSpeedup);
    EXPECT_EQ(grows("1 11574 frame 01 00 01\n"), 3 + 120000 / kSpeedup);
    EXPECT_EQ(budget.phase(), "controller backup set 1");
    EXPECT_EQ(grows("2 11574 close\n1 11574 open\n"), 2000 / kSpeedup);
    EXPECT_EQ(grows("1 11574 frame 01 07 00\n"), 3) << "a new connection starts in step";
}

TEST_F(SoakBudgetTest, HalfWrittenLinesWaitForTheirEnd) {
    EXPECT_EQ(grows("1 11575 frame 01 01 06 00 02 ff 08"), 0);
    EXPECT_EQ(budget.phase(), "start");
    EXPECT_GT(grows(" f0 09 03\n"), 0);
}
