#include <gtest/gtest.h>

#include "audio/Convert.h"
#include "audio/WavePeaks.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {
namespace {

std::vector<std::uint8_t> wave(const std::vector<std::uint8_t>& data) {
    auto h = audio::waveHeader(8000, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> b(h.begin(), h.end());
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TEST(WavePeaks, EachColumnHoldsTheLowestAndHighestSampleOfItsSlice) {
    TempDir dir;
    auto f = dir.write("p.wav", wave({0x80, 0x90, 0x70, 0x80, 0x00, 0xFF, 0x81, 0x7F}));
    auto p = audio::wavePeaks(f, 8, 4);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].low, 0x80);
    EXPECT_EQ(p[0].high, 0x90);
    EXPECT_EQ(p[1].low, 0x70);
    EXPECT_EQ(p[1].high, 0x80);
    EXPECT_EQ(p[2].low, 0x00);
    EXPECT_EQ(p[2].high, 0xFF);
    EXPECT_EQ(p[3].low, 0x7F);
    EXPECT_EQ(p[3].high, 0x81);
}

TEST(WavePeaks, MoreColumnsThanSamplesLeaveTheEmptyOnesAtTheCentre) {
    TempDir dir;
    auto f = dir.write("short.wav", wave({0x10, 0xF0}));
    auto p = audio::wavePeaks(f, 2, 4);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].low, 0x10);
    EXPECT_EQ(p[1].low, 0x80);
    EXPECT_EQ(p[1].high, 0x80);
    EXPECT_EQ(p[2].high, 0xF0);
    EXPECT_EQ(p[3].low, 0x80);
}

TEST(WavePeaks, AShortFileOrAMissingOneNeverReadsPastWhatIsThere) {
    TempDir dir;
    // The recorded size claims more than the file holds.
    auto f = dir.write("cut.wav", wave({0x00, 0x00}));
    auto p = audio::wavePeaks(f, 1000, 10);
    ASSERT_EQ(p.size(), 10u);
    EXPECT_EQ(p[0].low, 0x00);
    for (std::size_t i = 1; i < p.size(); ++i) EXPECT_EQ(p[i].low, 0x80);
    EXPECT_TRUE(audio::wavePeaks(dir / "absent.wav", 10, 10).empty());
    EXPECT_TRUE(audio::wavePeaks(f, 2, 0).empty());
}

}  // namespace
}  // namespace sonoprog::test
