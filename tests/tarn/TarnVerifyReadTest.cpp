#include "tests/support/TarnFixture.h"

using namespace sonoprog;
using test::Bytes;

namespace {

struct TarnVerifyTest : test::TarnRig {
    Bytes image = test::patternImage(30);
    std::filesystem::path path;

    void SetUp() override {
        path = loadImage(image);
        for (std::uint32_t k = 0; k < 30; ++k) chip->writePage(k, test::pageOf(image, k).data());
        writer.clearLog();
    }
    // Changes `count` bytes of chip page `page`, each in one bit only.
    void spoil(std::uint32_t page, int count) {
        Bytes held = chip->page(page);
        for (int i = 0; i < count; ++i) held[100 + i * 7] ^= 0x01;
        chip->writePage(page, held.data());
    }
    std::string vrf() const { return test::readText(ops.lastFile()); }
};

struct TarnReadTest : test::TarnRig {
    std::vector<std::string> closing(const std::string& result) const {
        return {result, "  -> Disable chip...", "    [O]    [O] Done", "  -> Done!",
                "End: 04:50:07"};
    }
};

}  // namespace

TEST_F(TarnVerifyTest, MatchingChipPassesWithAnEmptyLog) {
    ASSERT_TRUE(ops.verify());
    EXPECT_EQ(lines(),
              (std::vector<std::string>{
                  "[ VERIFY ]", "Start: 04:50:07", "  -> Open DAT file...",
                  "    [O] Opened file: " + path.string(), "  -> Create LOG file...",
                  "    [O] LOG file: " + (paths.tempDir / "VRF_20110607-0450.log").string(),
                  "  -> Chip detect...", "    [O] Device: Tarn20", "  -> Verify chip...",
                  "    [O] Passed!", "  -> Disable chip...", "    [O] Finished!", "  -> Done!",
                  "End: 04:50:07"}));
    EXPECT_EQ(vrf(), "");
    EXPECT_EQ(pages(0x14).size(), 30u);
    EXPECT_TRUE(commands(0x12).empty());  // verify never programs
    EXPECT_EQ(pane.progress, 100);
    EXPECT_FALSE(lock.locked);
}

TEST_F(TarnVerifyTest, AllowErrorThreePassesThreeWrongBytesAndStopsAtFour) {
    fields.AllowError = "3";
    spoil(20, 3);
    spoil(25, 4);
    EXPECT_FALSE(ops.verify());
    EXPECT_FALSE(
        pane.has("    [X] Failed to verify page: 0x000014 (Too many error in this page!)!"));
    const int at = pane.find(
        "    [X]     [X] Failed to verify page: 0x000019 (Too many error in this page!)!");
    ASSERT_GE(at, 0);
    EXPECT_EQ(pane.lines[at].colour, core::kFailRed);
    EXPECT_EQ(lines()[at + 1], "  -> Disable chip...");
    EXPECT_EQ(vrf(), "[X] Found 4 error(s) in page: 0x000019\n");
    EXPECT_EQ(pages(0x14).back(), 25u);  // stopped there
}

TEST_F(TarnVerifyTest, AllowErrorZeroStopsAtAnyWrongByte) {
    spoil(17, 1);
    // A negative allowance is no allowance, not four thousand million.
    for (const char* allow : {"0", "-1"}) {
        fields.AllowError = allow;
        EXPECT_FALSE(ops.verify()) << allow;
        EXPECT_TRUE(pane.has(
            "    [X]     [X] Failed to verify page: 0x000011 (Too many error in this page!)!"))
            << allow;
        EXPECT_EQ(vrf(), "[X] Found 1 error(s) in page: 0x000011\n") << allow;
    }
}

TEST_F(TarnVerifyTest, OneWrongByteInAnInformationPageStopsWhateverAllowErrorSays) {
    fields.AllowError = "1000";
    spoil(16, 1);
    EXPECT_FALSE(ops.verify());
    EXPECT_TRUE(pane.has("    [X] Failed to verify page: 0x000010 (Code information has broken)!"));
    EXPECT_EQ(vrf(), "Found 1 error(s) in page: 0x000010\n");
}

TEST_F(TarnVerifyTest, RangeFromPageHundredTreatsItsFirstSeventeenPagesAsInformation) {
    for (std::uint32_t k = 0; k < 30; ++k) chip->writePage(100 + k, test::pageOf(image, k).data());
    fields.PageBeg = "100";
    fields.InfoPage = "17";
    spoil(117, 2);  // a data page within the allowance
    spoil(116, 1);  // the last information page
    EXPECT_FALSE(ops.verify());
    EXPECT_EQ(vrf(), "Found 1 error(s) in page: 0x000074\n");
    EXPECT_EQ(pages(0x14).front(), 100u);
}

TEST_F(TarnVerifyTest, AnInfoPageBeyondTheRangeHoldsEveryPageExactlyAndNeverWraps) {
    for (std::uint32_t k = 0; k < 30; ++k) chip->writePage(1 + k, test::pageOf(image, k).data());
    fields.PageBeg = "1";
    fields.InfoPage = "-1";  // 0xFFFFFFFF: 1 + this wraps to 0 in 32 bits
    fields.AllowError = "1000";
    spoil(20, 1);
    EXPECT_FALSE(ops.verify());
    EXPECT_TRUE(pane.has("    [X] Failed to verify page: 0x000014 (Code information has broken)!"));
}

TEST_F(TarnVerifyTest, FailedReadEndsWithTheCompareMessageAndNoRecord) {
    chip->statuses().failNth(0x14, 3, 0x01);
    EXPECT_FALSE(ops.verify());
    EXPECT_TRUE(
        pane.has("    [X] Failed to verify page: 0x000002 (Chip can not enter read mode!)!"));
    EXPECT_EQ(vrf(), "");
    EXPECT_EQ(writer.commandCodes().back(), 0x11);
}

TEST_F(TarnVerifyTest, RangeBeyondTheImageIsRefusedBeforeTheLog) {
    fields.PageCnt = "31";
    EXPECT_FALSE(ops.verify());
    EXPECT_TRUE(pane.has("    [X] Wrong range of write!"));
    EXPECT_TRUE(ops.lastFile().empty());
    EXPECT_TRUE(tempFiles().empty());
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x11}));
}

TEST_F(TarnReadTest, WholeUserAreaIsDumpedAndSparesAreNot) {
    Bytes first = test::pageOf(test::patternImage(2), 0);
    Bytes last = test::pageOf(test::patternImage(2), 1);
    chip->writePage(0, first.data());
    chip->writePage(0x1E47F, last.data());
    chip->writePage(0x1E480, Bytes(1024, 0x00).data());
    fields.PageBeg = "5";
    fields.PageCnt = "1";
    writer.setLogging(false);
    ASSERT_TRUE(ops.read());
    const auto file = paths.tempDir / "READ_20110607-0450.dat";
    EXPECT_EQ(lines(),
              (std::vector<std::string>{
                  "[ READ ]", "Start: 04:50:07", "  -> Create read file...",
                  "    [O] read file: " + file.string(), "  -> Chip detect...",
                  "    [O]    [O] Device: Tarn20", "  -> Read chip...", "    [O] Finish!",
                  "  -> Disable chip...", "    [O]    [O] Done", "  -> Done!", "End: 04:50:07"}));
    EXPECT_EQ(std::filesystem::file_size(file), 127008768u);
    Bytes dump = test::readFile(file);
    EXPECT_EQ(test::pageOf(dump, 0), first);
    EXPECT_EQ(test::pageOf(dump, 0x1E47F), last);
    EXPECT_EQ(test::pageOf(dump, 5), Bytes(1024, 0xFF));
    EXPECT_EQ(chip->statuses().count(0x14), 124032u);
    EXPECT_EQ(pane.progress, 100);
    EXPECT_EQ(fields.PageBeg, "5");
}

TEST_F(TarnReadTest, FailureAtPageSixteenKeepsTheSixteenPagesBeforeIt) {
    chip->statuses().failNth(0x14, 17, 0x01);
    EXPECT_FALSE(ops.read());
    EXPECT_EQ(std::filesystem::file_size(ops.lastFile()), 16384u);
    auto all = lines();
    EXPECT_EQ(std::vector<std::string>(all.end() - 5, all.end()),
              closing("    [X] Failed to read page: 0x000010 (Chip can not enter read mode!)!"));
    EXPECT_EQ(writer.commandCodes().back(), 0x11);
}

TEST_F(TarnReadTest, FullDiskEndsWithAFailureNotFinish) {
    writer.setLogging(false);
    bool passed = true;
    {
        test::FullDisk full(100 * 1024);
        passed = ops.read();
    }

    EXPECT_FALSE(passed);
    EXPECT_FALSE(pane.has("    [O] Finish!"));
    auto all = lines();
    EXPECT_EQ(std::vector<std::string>(all.end() - 5, all.end()),
              closing("    [X] Failed to write read file!"));
    // The loop stopped soon after the disk filled up.
    EXPECT_LT(chip->statuses().count(0x14), 1000u);
    EXPECT_EQ(chip->statuses().count(0x11), 1u);
}

TEST_F(TarnReadTest, ReadFileThatCannotBeCreatedStillReleases) {
    auto blocker = dir.write("blocker", std::string("file"));
    paths.tempDir = blocker / "Temp";
    EXPECT_FALSE(ops.read());
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "[ READ ]", "Start: 04:50:07", "  -> Create read file...",
                           "    [X] Failed to create read file!", "  -> Disable chip...",
                           "    [O]    [O] Done", "  -> Done!", "End: 04:50:07"}));
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x11}));

    chip->setDetectStatus(0x40);
    paths = core::AppPaths::forFolder(dir.path());
    EXPECT_FALSE(ops.read());
    EXPECT_TRUE(pane.has("    [X]    [X] Manufacturer ID failed!"));
    EXPECT_FALSE(pane.has("  -> Read chip..."));
}
