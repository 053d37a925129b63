#include <gtest/gtest.h>

#include "core/Progress.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;
using core::ProgressFigures;
using core::ProgressUnit;

TEST(ProgressTest, FiguresReadAsTheLineBesideTheGauge) {
    struct Case {
        ProgressFigures figures;
        std::string text;
    };
    const Case cases[] = {
        {{ProgressUnit::Pages, 8000, 124032, 72.4, 250.0},
         "8,000 of 124,032 pages \u00B7 1:12 elapsed \u00B7 4:10 left"},
        {{ProgressUnit::Bytes, 0, 16777216, 0.2, std::nullopt},
         "0 of 16,777,216 bytes \u00B7 0:00 elapsed"},
        {{ProgressUnit::Sections, 1023, 1024, 3723.0, 3.6},
         "1,023 of 1,024 sections \u00B7 1:02:03 elapsed \u00B7 0:04 left"},
        {{ProgressUnit::Files, 1, 3, 59.5, 119.0},
         "1 of 3 files \u00B7 1:00 elapsed \u00B7 1:59 left"},
        {{ProgressUnit::Pages, 999, 1000, 0.0, -2.0},
         "999 of 1,000 pages \u00B7 0:00 elapsed "
         "\u00B7 0:00 left"},
    };
    for (const Case& c : cases) EXPECT_EQ(core::progressText(c.figures), c.text);
}

TEST(ProgressTest, TimeLeftComesFromTheRateSoFarOnceAHundredthIsDone) {
    test::FixedClock clock;
    clock.steady = std::chrono::seconds(100);  // the loop starts late in the clock's life
    core::ProgressModel model(clock, ProgressUnit::Pages, 1000);
    struct Step {
        std::chrono::milliseconds at;  // since the loop began
        std::uint64_t done;
        std::optional<double> eta;
    };
    const Step steps[] = {
        {std::chrono::milliseconds(0), 0, std::nullopt},   // nothing to go by
        {std::chrono::milliseconds(90), 9, std::nullopt},  // under a hundredth
        {std::chrono::milliseconds(0), 10, std::nullopt},  // the clock has not moved
        {std::chrono::milliseconds(200), 10, 19.8},        // 990 left at 50 a second
        {std::chrono::milliseconds(1000), 100, 9.0},       // 900 left at 100 a second
        {std::chrono::milliseconds(4000), 1000, 0.0},      // done
        {std::chrono::milliseconds(5000), 1200, 0.0},      // never past the total
    };
    for (const Step& s : steps) {
        clock.steady = std::chrono::seconds(100) + s.at;
        const ProgressFigures f = model.at(s.done);
        EXPECT_DOUBLE_EQ(f.elapsedS, s.at.count() / 1000.0) << s.done;
        EXPECT_EQ(f.done, std::min<std::uint64_t>(s.done, 1000));
        EXPECT_EQ(f.total, 1000u);
        ASSERT_EQ(f.etaS.has_value(), s.eta.has_value()) << s.done;
        if (s.eta) {
            EXPECT_NEAR(*f.etaS, *s.eta, 1e-9) << s.done;
        }
    }
}
