#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "core/Clock.h"
#include "core/ImageSum.h"
#include "core/LineSafe.h"
#include "core/NumberText.h"
#include "core/TempFiles.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;

TEST(TempFiles, StampedNamesNeverTruncateAnEarlierRun) {
    test::TempDir dir;
    test::FixedClock clock;
    auto first = core::createStampedFile(dir.path(), "PGM_", clock.now, ".log");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->path.filename(), "PGM_20110607-0450.log");
    std::fputs("[X] Failed to write page: 0x000005 (Data failed!), \n", first->file.get());
    first->file.reset();

    auto second = core::createStampedFile(dir.path(), "PGM_", clock.now, ".log");
    auto third = core::createStampedFile(dir.path(), "PGM_", clock.now, ".log");
    ASSERT_TRUE(second && third);
    EXPECT_EQ(second->path.filename(), "PGM_20110607-0450-2.log");
    EXPECT_EQ(third->path.filename(), "PGM_20110607-0450-3.log");
    EXPECT_EQ(test::readText(first->path), "[X] Failed to write page: 0x000005 (Data failed!), \n");

    auto read = core::createStampedFile(dir.path(), "READ_", clock.now, ".dat");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->path.filename(), "READ_20110607-0450.dat");
}

TEST(TempFiles, MissingFolderGivesNoFile) {
    test::TempDir dir;
    test::FixedClock clock;
    EXPECT_FALSE(core::createStampedFile(dir / "no-such-folder", "VRF_", clock.now, ".log"));
}

TEST(TimeTexts, StampsAndTimesHaveLeadingZeros) {
    test::FixedClock clock;
    EXPECT_EQ(core::fileStamp(clock.now), "20110607-0450");
    EXPECT_EQ(core::timeOfDay(clock.now), "04:50:07");
    clock.now.tm_mon = 2;
    clock.now.tm_hour = 14;
    clock.now.tm_min = 5;
    clock.now.tm_sec = 9;
    EXPECT_EQ(core::projectStamp(clock.now), "2011/03/07-14:05:09");
}

TEST(ImageSum, SumsWrapAndFormatAsEightDigits) {
    const std::uint8_t three[] = {0x01, 0x02, 0xFF};
    EXPECT_EQ(core::hex8(core::sumBytes(three, 3)), "00000102");
    std::vector<std::uint8_t> ff(0x1000000, 0xFF);
    EXPECT_EQ(core::hex8(core::sumBytes(ff.data(), ff.size())), "FF000000");
}

TEST(ImageSum, EveryKernelAgreesWithByteByByteAtEveryAlignmentAndLength) {
    std::vector<std::uint8_t> bytes(4096 + 128);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 131 + 7) ^ (i >> 3));
    std::vector<core::SumKernel> kernels;
    for (core::SumKernel k : {core::SumKernel::Bytes, core::SumKernel::Sse2, core::SumKernel::Avx2})
        if (core::sumKernelAvailable(k)) kernels.push_back(k);
    for (std::size_t offset = 0; offset < 128; ++offset) {
        for (std::size_t length :
             {0u, 1u, 15u, 16u, 63u, 64u, 65u, 127u, 128u, 129u, 191u, 192u, 1000u, 4095u}) {
            std::uint32_t expected = 0xFFFFFF00u;  // the start carries over and wraps
            for (std::size_t i = 0; i < length; ++i) expected += bytes[offset + i];
            EXPECT_EQ(core::sumBytes(bytes.data() + offset, length, 0xFFFFFF00u), expected)
                << "offset " << offset << ", length " << length;
            for (core::SumKernel k : kernels)
                EXPECT_EQ(core::sumBytesWith(k, bytes.data() + offset, length, 0xFFFFFF00u),
                          expected)
                    << "kernel " << static_cast<int>(k) << ", offset " << offset << ", length "
                    << length;
        }
    }
    // Split anywhere, the parts chain into the whole.
    const std::uint32_t whole = core::sumBytes(bytes.data(), bytes.size());
    EXPECT_EQ(
        core::sumBytes(bytes.data() + 100, bytes.size() - 100, core::sumBytes(bytes.data(), 100)),
        whole);
    // Long runs of 0xFF fill every lane of the wide kernels without overflow.
    std::vector<std::uint8_t> ff((1u << 20) + 77, 0xFF);
    const auto ffSum = static_cast<std::uint32_t>(ff.size() * 0xFFu);
    for (core::SumKernel k : kernels)
        EXPECT_EQ(core::sumBytesWith(k, ff.data(), ff.size()), ffSum) << static_cast<int>(k);
}

TEST(ImageSum, StreamSumYieldsAndCoversTheWholeFile) {
    test::TempDir dir;
    std::vector<std::uint8_t> bytes(3 * 1024 * 1024 + 17);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    auto path = dir.write("img.bin", bytes);
    core::FilePtr f = core::openForReading(path);
    ASSERT_TRUE(f);
    std::fseek(f.get(), 100, SEEK_SET);  // the sum always starts at the first byte
    test::CountingYield yield;
    auto r = core::sumImageStream(f.get(), yield);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, bytes.size());
    EXPECT_EQ(r.sum, core::sumBytes(bytes.data(), bytes.size()));
    EXPECT_GE(yield.count, 1);
}

TEST(FileHandle, DirectoriesAreNotOpened) {
    test::TempDir dir;
    EXPECT_FALSE(core::openForReading(dir.path()));
    EXPECT_FALSE(core::openForReading(dir / "missing.bin"));
}

TEST(NumberText, FieldsReadAsDecimalOrZero) {
    EXPECT_EQ(core::fieldInt("17"), 17);
    EXPECT_EQ(core::fieldInt(" 17 "), 17);
    EXPECT_EQ(core::fieldInt(""), 0);
    EXPECT_EQ(core::fieldInt("abc"), 0);
    EXPECT_EQ(core::fieldInt("12abc"), 0);
    EXPECT_EQ(core::fieldInt("0x10"), 0);
    EXPECT_EQ(core::fieldInt("-1"), -1);
    EXPECT_EQ(core::fieldUInt("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(core::fieldInt("2147483647"), 2147483647);
    EXPECT_EQ(core::fieldInt("2147483648"), 0);
    EXPECT_EQ(core::fieldInt("99999999999999999999999"), 0);
}

TEST(NumberText, SettingIntegersTakeHexPrefixes) {
    EXPECT_EQ(core::parseSettingInteger("0x1EF", false), 0x1EF);
    EXPECT_EQ(core::parseSettingInteger("0X10", false), 16);
    EXPECT_EQ(core::parseSettingInteger("$FF", true), 255);
    EXPECT_FALSE(core::parseSettingInteger("$FF", false));
    EXPECT_FALSE(core::parseSettingInteger("0x", false));
    EXPECT_FALSE(core::parseSettingInteger("ten", false));
    EXPECT_EQ(core::parseSettingInteger(" 1048576 ", false), 1048576);
}

TEST(NumberText, OptionNumbersAreStrict) {
    EXPECT_EQ(core::parseOptionNumber("0x1E480"), 0x1E480u);
    EXPECT_EQ(core::parseOptionNumber("100"), 100u);
    EXPECT_FALSE(core::parseOptionNumber("-1"));
    EXPECT_FALSE(core::parseOptionNumber("1O"));
    EXPECT_FALSE(core::parseOptionNumber(""));
}

TEST(NumberText, OptionDecimalsAreFiniteDecimalNumbers) {
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"-30", -30.0}, {"-12.5", -12.5}, {"0", 0.0},        {"1e-3", 1e-3},
        {"nan", {}},    {"NaN", {}},      {"-nan", {}},      {"inf", {}},
        {"-inf", {}},   {"infinity", {}}, {"-Infinity", {}}, {"1e999", {}},
        {"0x10", {}},   {"", {}},         {"-30 dB", {}},    {" -30", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(core::parseOptionDecimal(c.text), c.value) << c.text;
}

TEST(LineSafe, LineBreaksAndControlsCannotEndALine) {
    const struct {
        std::string text, shown;
    } cases[] = {
        {"Evil\nTOTAL 1000 PASS 1000", "Evil\\nTOTAL 1000 PASS 1000"},
        {"a\r\nb\tc", "a\\r\\nb\\tc"},
        {std::string("nul\0bell\x07 esc\x1b[2J del\x7f", 22),
         "nul\\x00bell\\x07 esc\\x1B[2J del\\x7F"},
        {"c1 \xc2\x85 csi \xc2\x9b", "c1 \\xC2\\x85 csi \\xC2\\x9B"},
        {"sep \xe2\x80\xa8 para \xe2\x80\xa9", "sep \\xE2\\x80\\xA8 para \\xE2\\x80\\xA9"},
        {"bad \xff\xc3 end", "bad \\xFF\\xC3 end"},
        {"/voice/Grüße, 声音 \xc2\xa0ok\\n", "/voice/Grüße, 声音 \xc2\xa0ok\\n"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(core::lineSafe(c.text), c.shown);
        EXPECT_EQ(core::needsLineSafe(c.text), c.text != c.shown);
        EXPECT_EQ(core::lineSafe(c.text).find_first_of("\n\r"), std::string::npos);
    }
}
