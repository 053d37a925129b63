#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "editor/WaveFile.h"
#include "tests/editor/EditorFixture.h"

namespace sonoprog::test {
namespace {

using editor::CheckWaveHeader;

class WaveHeaderTest : public ::testing::Test {
protected:
    std::filesystem::path write(const std::vector<std::uint8_t>& bytes) {
        return dir.write("t.wav", bytes);
    }
    int code(const WaveShape& shape, std::size_t samples = 100) {
        return CheckWaveHeader(write(waveBytes(rampSamples(samples), shape))).code;
    }
    TempDir dir;
};

TEST_F(WaveHeaderTest, AcceptsEightBitMonoAndReturnsRateAndSize) {
    WaveShape shape;
    shape.rate = 11025;
    auto r = CheckWaveHeader(write(waveBytes(rampSamples(1500), shape)));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.rate, 11025u);
    EXPECT_EQ(r.size, 1500u);
}

TEST_F(WaveHeaderTest, EachFixedTestGivesItsCode) {
    EXPECT_EQ(CheckWaveHeader(dir / "missing.wav").code, 1);
    EXPECT_EQ(CheckWaveHeader(dir.path()).code, 1);  // a folder never opens as a file

    auto bytes = waveBytes(rampSamples(64));
    auto patched = [&](std::size_t at, const char* text) {
        auto b = bytes;
        for (int i = 0; text[i]; ++i) b[at + i] = static_cast<std::uint8_t>(text[i]);
        return CheckWaveHeader(write(b)).code;
    };
    EXPECT_EQ(patched(0, "RIFX"), 2);
    EXPECT_EQ(patched(8, "AVI "), 3);
    EXPECT_EQ(patched(12, "fmt_"), 4);
    EXPECT_EQ(patched(36, "fact"), 9);

    WaveShape s;
    s.fmtLength = 18;
    EXPECT_EQ(code(s), 5);
    s = {};
    s.format = 3;  // IEEE float
    EXPECT_EQ(code(s), 6);
    s = {};
    s.channels = 2;
    EXPECT_EQ(code(s), 7);
    s = {};
    s.bits = 16;
    EXPECT_EQ(code(s), 8);
}

TEST_F(WaveHeaderTest, ExtraChunksAreRefusedAWrongRiffLengthIsNot) {
    // A LIST chunk between "fmt " and "data": offset 36 no longer reads "data".
    auto b = waveBytes(rampSamples(32));
    std::vector<std::uint8_t> list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    b.insert(b.begin() + 36, list.begin(), list.end());
    EXPECT_EQ(CheckWaveHeader(write(b)).code, 9);

    // A chunk between the RIFF header and "fmt ".
    auto c = waveBytes(rampSamples(32));
    c.insert(c.begin() + 12, list.begin(), list.end());
    EXPECT_EQ(CheckWaveHeader(write(c)).code, 4);

    WaveShape shape;
    shape.riffLength = 12345678;
    EXPECT_EQ(code(shape), 0);
}

TEST_F(WaveHeaderTest, ShortFileFailsTheFirstTestWhoseBytesItLacks) {
    const auto full = waveBytes({});
    for (std::size_t n = 0; n < 44; ++n) {
        std::vector<std::uint8_t> cut(full.begin(), full.begin() + n);
        int expected = n < 4    ? 2
                       : n < 12 ? 3
                       : n < 16 ? 4
                       : n < 20 ? 5
                       : n < 22 ? 6
                       : n < 24 ? 7
                       : n < 36 ? 8
                                : 9;
        EXPECT_EQ(CheckWaveHeader(write(cut)).code, expected) << n << " bytes";
    }
    EXPECT_EQ(CheckWaveHeader(write(full)).code, 0);
}

TEST_F(WaveHeaderTest, HugeDeclaredSizeIsReadAsUnsigned) {
    WaveShape shape;
    shape.declaredSize = 0xFFFFFFF0;
    auto r = CheckWaveHeader(write(waveBytes(rampSamples(10), shape)));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.size, 0xFFFFFFF0u);
}

TEST(SamplePeriod, CommonRatesAndTheRangeThatFitsOneByte) {
    EXPECT_EQ(editor::samplePeriod(8000), 125u);
    EXPECT_EQ(editor::samplePeriod(16000), 63u);
    EXPECT_EQ(editor::samplePeriod(11025), 91u);
    EXPECT_EQ(editor::samplePeriod(22050), 45u);
    EXPECT_EQ(editor::samplePeriod(44100), 23u);
    EXPECT_EQ(editor::samplePeriod(4000), 250u);
    EXPECT_EQ(editor::samplePeriod(3914), 255u);
    EXPECT_EQ(editor::samplePeriod(3913), 256u);
    EXPECT_TRUE(editor::rateInRange(3914));
    EXPECT_FALSE(editor::rateInRange(3913));
    EXPECT_FALSE(editor::rateInRange(0));
    EXPECT_TRUE(editor::rateInRange(2000000));
    EXPECT_FALSE(editor::rateInRange(2000001));  // the period would be 0
}

TEST(AppendWaveSection, TestsRunInOrderAndAFailureAddsNothing) {
    TempDir dir;
    auto path = dir.write("a.wav", waveBytes(rampSamples(1500)));
    auto pageFile = dir / "pages.bin";
    std::FILE* f = std::fopen(pageFile.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    editor::PageFileWriter pages(f, 17);
    EXPECT_EQ(editor::AppendWaveSection(pages, dir / "none.wav", 8000, 1500), 1);
    EXPECT_EQ(editor::AppendWaveSection(pages, path, 8001, 1500), 16);
    EXPECT_EQ(editor::AppendWaveSection(pages, path, 8000, 1499), 17);
    WaveShape stereo;
    stereo.channels = 2;
    auto stereoPath = dir.write("s.wav", waveBytes(rampSamples(10), stereo));
    // The channel test comes before the rate comparison.
    EXPECT_EQ(editor::AppendWaveSection(pages, stereoPath, 1, 10), 7);
    EXPECT_EQ(pages.pageCount(), 17u);
    EXPECT_EQ(editor::AppendWaveSection(pages, path, 8000, 1500), 0);
    EXPECT_EQ(pages.pageCount(), 19u);
    std::fclose(f);
    auto bytes = readFile(pageFile);
    ASSERT_EQ(bytes.size(), 2048u);
    auto samples = rampSamples(1500);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), bytes.begin()));
    for (std::size_t i = 1500; i < 2048; ++i) ASSERT_EQ(bytes[i], 0x80) << i;
}

TEST(AppendWaveSection, RefusesRatesOutsideThePeriodByteAndPagesPast24Bits) {
    TempDir dir;
    std::FILE* f = std::fopen((dir / "p.bin").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    editor::PageFileWriter pages(f, 17);
    for (std::uint32_t rate : {0u, 3913u, 2000001u}) {
        WaveShape s;
        s.rate = rate;
        auto p = dir.write("r.wav", waveBytes(rampSamples(100), s));
        EXPECT_EQ(editor::AppendWaveSection(pages, p, rate, 100), 18) << rate;
    }
    WaveShape big;
    big.declaredSize = 0xFFFFFFFF - 1;
    auto p = dir.write("big.wav", waveBytes(rampSamples(10), big));
    editor::PageFileWriter late(f, 0xFFFFFF - 100);
    EXPECT_EQ(editor::AppendWaveSection(late, p, 8000, 0xFFFFFFFE), 19);
    EXPECT_EQ(late.pageCount(), 0xFFFFFFu - 100);
    std::fclose(f);
    EXPECT_EQ(std::filesystem::file_size(dir / "p.bin"), 0u);
}

}  // namespace
}  // namespace sonoprog::test
