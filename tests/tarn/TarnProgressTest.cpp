#include <cmath>

#include "tests/support/TarnFixture.h"

using namespace sonoprog;
using test::Bytes;

namespace {

struct TarnProgressTest : test::TarnRig {
    std::vector<std::string> tail(std::size_t n) const {
        auto all = lines();
        return std::vector<std::string>(all.end() - std::ptrdiff_t(std::min(n, all.size())),
                                        all.end());
    }
};

}  // namespace

TEST_F(TarnProgressTest, StopEndsTheLoopAtAPageRunsTheClosingStepsAndLogsWherePagesStopped) {
    struct Case {
        const char* name;
        bool (tarn::TarnOperations::*run)();
        const char* done;       // the closing step's pass line
        const char* logRecord;  // what the PGM or VRF log holds afterwards
    };
    const Case cases[] = {
        {"write", &tarn::TarnOperations::write, "    [O] Finished!",
         "[!] Stopped by the operator before page: 0x000007\n"},
        {"verify", &tarn::TarnOperations::verify, "    [O] Finished!",
         "[!] Stopped by the operator before page: 0x000007\n"},
        {"read", &tarn::TarnOperations::read, "    [O]    [O] Done", nullptr},
    };
    const Bytes image = test::patternImage(20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loadImage(image);
        fields.PageBeg = "2";
        fields.PageCnt = "15";
        fields.InfoPage = "3";
        writer.clearLog();
        test::StopAfter stop(5);  // the loop asks once per page
        core::OperationServices stoppable = services;
        stoppable.stop = &stop;
        tarn::TarnOperations ops(fields, stoppable);
        EXPECT_FALSE((ops.*c.run)());
        EXPECT_EQ(tail(5), (std::vector<std::string>{"    [!] Stopped by the operator.",
                                                     "  -> Disable chip...", c.done, "  -> Done!",
                                                     "End: 04:50:07"}));
        EXPECT_FALSE(pane.has("    [O] Passed!"));
        EXPECT_FALSE(pane.has("    [O] Finish!"));
        EXPECT_EQ(pane.lines[pane.lines.size() - 5].colour, core::kFailRed);
        // The release is the last command: nothing reached the chip after it.
        EXPECT_EQ(writer.commandCodes().back(), 0x11);
        if (c.logRecord) {
            EXPECT_EQ(test::readText(ops.lastFile()), c.logRecord);
        }
        EXPECT_FALSE(lock.locked);
    }
    // The write got pages 2..6 onto the chip and nothing from page 7 on.
    EXPECT_EQ(chipPage(6), test::pageOf(image, 4));
    EXPECT_EQ(chipPage(7), Bytes(1024, 0xFF));
}

TEST_F(TarnProgressTest, MovedPagesAreToldBeforeTheResultLine) {
    loadImage(test::patternImage(10));
    fields.InfoPage = "6";
    chip->setBadPage(5);
    chip->setBadPage(8);
    ASSERT_TRUE(ops.write());
    EXPECT_EQ(tail(6)[0], "    [!] 2 pages were moved to the spare area (see the PGM log).");
    EXPECT_EQ(tail(6)[1], "    [O] Passed!");
    // A write that moved nothing says nothing of the spare area.
    chip->clearBadPages();
    loadImage(test::patternImage(10));
    ASSERT_TRUE(ops.write());
    EXPECT_EQ(tail(6)[0], "  -> Write chip...");
}

TEST_F(TarnProgressTest, ABlankCheckSaysNothingOfTheWriteBeforeIt) {
    struct Case {
        const char* name;
        int stopAfter;  // the write's stop: after this many pages
        std::uint32_t badPage;
        bool blank;  // what the blank check finds afterwards
    };
    const Case cases[] = {
        {"stopped before its first page", 0, 0, true},
        {"a page moved to the spare area", 1000, 5, false},
    };
    writer.setLogging(false);  // the blank check reads every page of the chip
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.badPage != 0) chip->setBadPage(c.badPage);
        loadImage(test::patternImage(10));
        fields.InfoPage = "6";
        test::StopAfter stop(c.stopAfter);
        core::OperationServices stoppable = services;
        stoppable.stop = &stop;
        tarn::TarnOperations both(fields, stoppable);
        EXPECT_EQ(both.write(), c.stopAfter != 0);
        EXPECT_EQ(both.blankCheck(), c.blank);
        for (const std::string& line : lines()) {
            EXPECT_EQ(line.find(core::kStoppedByOperator), std::string::npos) << line;
            EXPECT_EQ(line.find(tarn::kMirroredPagesTail), std::string::npos) << line;
        }
    }
}

TEST_F(TarnProgressTest, TimeLeftAfterATenthOfAWriteOnASteadyLinkIsWithinFifteenPercent) {
    // The steady link: every transfer moves the clock by the same round trip,
    // as [Writer] RoundTripUs makes the virtual Writer take; the clock is
    // stepped, not slept.
    static constexpr std::chrono::microseconds kRoundTrip{750};
    static constexpr std::uint32_t kPages = 1200;
    loadImage(test::patternImage(kPages));
    fields.InfoPage = "17";
    writer.setLogging(false);
    writer.setTransferHook([this](std::uint64_t) { clock.steady += kRoundTrip; });
    pane.figures.clear();
    ASSERT_TRUE(ops.write());

    const auto& figures = pane.figures;
    ASSERT_FALSE(figures.empty());
    const auto tenth =
        std::find_if(figures.begin(), figures.end(),
                     [](const core::ProgressFigures& f) { return f.done >= kPages / 10; });
    ASSERT_NE(tenth, figures.end());
    ASSERT_TRUE(tenth->etaS.has_value());
    const core::ProgressFigures& last = figures.back();
    EXPECT_EQ(last.done, kPages);
    EXPECT_EQ(last.total, kPages);
    EXPECT_EQ(last.unit, core::ProgressUnit::Pages);
    const double remainder = last.elapsedS - tenth->elapsedS;
    ASSERT_GT(remainder, 0);
    EXPECT_LT(std::abs(*tenth->etaS - remainder) / remainder, 0.15)
        << "estimated " << *tenth->etaS << " s, took " << remainder << " s";
    // Figures come at whole percentages, a few times a second and at the
    // ends, not once per page.
    EXPECT_LT(figures.size(), kPages / 4);
}
