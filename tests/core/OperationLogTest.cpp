#include <gtest/gtest.h>

#include <stdexcept>

#include "core/OperationFrame.h"
#include "core/OperationLog.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;
using core::LineKind;
using core::LogLine;

namespace {

struct FrameFixture : ::testing::Test {
    test::RecordingPane pane;
    test::RecordingLock lock;
    test::FixedClock clock;
    core::OperationLog log{pane};
};

}  // namespace

TEST_F(FrameFixture, ResultLinesCarryTheirMarksAndColours) {
    log.pass("Device: Tarn20");
    log.fail("USB failed!");
    log.warn("Cancel!");
    log.step("  -> Done!");
    ASSERT_EQ(pane.lines.size(), 4u);
    EXPECT_EQ(pane.lines[0], (LogLine{LineKind::Pass, "    [O] Device: Tarn20", core::kPassBlue, false}));
    EXPECT_EQ(pane.lines[1], (LogLine{LineKind::Fail, "    [X] USB failed!", core::kFailRed, false}));
    EXPECT_EQ(pane.lines[2], (LogLine{LineKind::Warn, "    [!] Cancel!", core::kFailRed, false}));
    // A plain line after a fail line is back in the default colour.
    EXPECT_EQ(pane.lines[3], (LogLine{LineKind::Step, "  -> Done!", std::nullopt, false}));
}

TEST_F(FrameFixture, MessagesWithTheirOwnMarkAreKeptBehindThePrefix) {
    log.pass("   [O] Device: Tarn20");
    log.fail("    [X] Failed to verify page: 0x000010 (Too many error in this page!)!");
    EXPECT_EQ(pane.lines[0].text, "    [O]    [O] Device: Tarn20");
    EXPECT_EQ(pane.lines[1].text,
              "    [X]     [X] Failed to verify page: 0x000010 (Too many error in this page!)!");
}

TEST_F(FrameFixture, FrameWithTimeLinesLocksHeadsAndUnlocks) {
    pane.lines.push_back({LineKind::Step, "old line", std::nullopt, false});
    {
        core::OperationFrame frame(log, lock, clock, "[ WRITE ]", core::TimeLines::Yes);
        EXPECT_TRUE(lock.locked);
        frame.step("  -> Open DAT file...");
        frame.fail("Failed to open DAT file: /x.bin");
        EXPECT_FALSE(frame.ok());
        frame.step("  -> Disable chip...");
        frame.finish();
    }
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock"}));
    EXPECT_EQ(pane.texts(), (std::vector<std::string>{
                                "[ WRITE ]", "Start: 04:50:07", "  -> Open DAT file...",
                                "    [X] Failed to open DAT file: /x.bin", "  -> Disable chip...",
                                "End: 04:50:07"}));
    EXPECT_TRUE(pane.lines[0].bold);
    EXPECT_EQ(pane.lines[1].colour, core::kTimeGreen);
    EXPECT_EQ(pane.lines[5].colour, core::kTimeGreen);
    EXPECT_FALSE(pane.lines[2].bold);
}

TEST_F(FrameFixture, FrameUnlocksWhenAnExceptionLeavesTheOperation) {
    try {
        core::OperationFrame frame(log, lock, clock, "[ LOAD FILE ]");
        throw std::runtime_error("boom");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(lock.locked);
    EXPECT_EQ(pane.texts(), (std::vector<std::string>{"[ LOAD FILE ]"}));
}

TEST_F(FrameFixture, GaugeIsClamped) {
    log.progress(-5);
    EXPECT_EQ(pane.progress, 0);
    log.progress(250);
    EXPECT_EQ(pane.progress, 100);
    log.progress(42);
    EXPECT_EQ(pane.progress, 42);
}
