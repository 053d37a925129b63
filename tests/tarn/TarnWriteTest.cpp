#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/support/TarnFixture.h"

using namespace sonoprog;
using test::Bytes;

namespace {

struct TarnWriteTest : test::TarnRig {
    std::vector<std::string> closing(const std::string& finished = "    [O] Finished!") const {
        return {"  -> Disable chip...", finished, "  -> Done!", "End: 04:50:07"};
    }
    std::vector<std::string> tail(std::size_t n) const {
        auto all = lines();
        return std::vector<std::string>(all.end() - std::ptrdiff_t(std::min(n, all.size())),
                                        all.end());
    }
    std::string pgm() const { return test::readText(ops.lastFile()); }
    std::string logLine() const {
        return "    [O] LOG file: " + (paths.tempDir / "PGM_20110607-0450.log").string();
    }
};

}  // namespace

TEST_F(TarnWriteTest, RangeFromPageHundredUsesBothPageMethods) {
    Bytes image = test::patternImage(20);
    auto path = loadImage(image);
    fields.PageBeg = "100";
    fields.InfoPage = "17";
    ASSERT_TRUE(ops.write());
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "[ WRITE ]", "Start: 04:50:07", "  -> Open DAT file...",
                           "    [O] Opened file: " + path.string(), "  -> Create LOG file...",
                           logLine(), "  -> Chip detect...", "    [O] Device: Tarn20",
                           "  -> Write chip...", "    [O] Passed!", "  -> Disable chip...",
                           "    [O] Finished!", "  -> Done!", "End: 04:50:07"}));
    EXPECT_TRUE(pane.lines[0].bold);
    EXPECT_EQ(pane.lines[1].colour, core::kTimeGreen);
    EXPECT_EQ(pane.lines[13].colour, core::kTimeGreen);
    for (std::uint32_t k = 0; k < 20; ++k)
        EXPECT_EQ(chipPage(100 + k), test::pageOf(image, k)) << k;
    EXPECT_EQ(chipPage(99), Bytes(1024, 0xFF));
    EXPECT_EQ(chipPage(120), Bytes(1024, 0xFF));

    // Pages 100..116 by three read-backs, 117..119 by the Writer's sum and one read-back.
    std::vector<std::uint32_t> reads, sums;
    for (std::uint32_t p = 100; p <= 116; ++p) reads.insert(reads.end(), {p, p, p});
    for (std::uint32_t p = 117; p <= 119; ++p) {
        reads.push_back(p);
        sums.push_back(p);
    }
    EXPECT_EQ(pages(0x14), reads);
    EXPECT_EQ(pages(0x17), sums);
    auto codes = writer.commandCodes();
    EXPECT_EQ(codes.front(), 0x10);
    EXPECT_EQ(codes.back(), 0x11);
    EXPECT_EQ(pgm(), "");
    EXPECT_EQ(pane.progressHistory.front(), 0);  // (0 * 100 + 1) / 20
    EXPECT_EQ(pane.progressHistory[10], 50);     // (10 * 100 + 1) / 20
    EXPECT_EQ(pane.progressHistory.back(), 100);
    EXPECT_EQ(yield.count, 1 + 20);  // the load, then once per page
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock", "lock", "unlock"}));
    EXPECT_TRUE(writer.protocolErrors().empty());
}

TEST_F(TarnWriteTest, RangesOutsideTheUserAreaOrTheImageAreRefused) {
    takeSparseImage(124032);
    const std::vector<std::pair<std::string, std::string>> wrong = {
        {"1", "124032"},
        {"0", "0"},
        {"5", "-1"},
        {"-256", "300"},
        {"0", "abc"},
        {"124032", "1"},
        {"0", "99999999999"},
        // Too large for the field: read as 0, it would move the write onto page 0.
        {"99999999999", "1"},
        {"-4294967296", "1"},
    };
    for (const auto& [start, count] : wrong) {
        fields.PageBeg = start;
        fields.PageCnt = count;
        writer.clearLog();
        EXPECT_FALSE(ops.write());
        EXPECT_EQ(lines(),
                  (std::vector<std::string>{"[ WRITE ]", "Start: 04:50:07", "  -> Open DAT file...",
                                            "    [O] Opened file: " + fields.LoadFile,
                                            "    [X] Wrong range of write!", "  -> Disable chip...",
                                            "    [O] Finished!", "  -> Done!", "End: 04:50:07"}))
            << start << " " << count;
        EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x11}));
    }
    EXPECT_TRUE(tempFiles().empty());  // refused before the log file

    // Write Page beyond the image's pages would program a stale buffer.
    Bytes image = test::patternImage(4);
    loadImage(image, "four.bin");
    fields.InfoPage = "0";
    fields.PageCnt = "5";
    writer.clearLog();
    EXPECT_FALSE(ops.write());
    EXPECT_TRUE(pane.has("    [X] Wrong range of write!"));
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x11}));
}

// The fields a refused load leaves (its path and size) never lead to a write
// or a compare: both test the file as the load does.
TEST_F(TarnWriteTest, FilesTheLoadRefusesAreNeverProgrammedOrCompared) {
    loadImage(test::patternImage(2), "good.bin");
    const struct {
        Bytes bytes;
        std::string infoPage;
    } refused[] = {
        {Bytes(1025, 0x00), "0"},        // not whole pages: Write Page reads 1
        {test::patternImage(17), "18"},  // fewer pages than Info Page
        {Bytes(2048 + 512, 0x11), "1"},  // two pages and a half
    };
    for (const auto& row : refused) {
        fields.InfoPage = row.infoPage;
        const auto path = dir.write("refused.bin", row.bytes);
        files.openAnswers.push_back(path.string());
        EXPECT_FALSE(loadFile());
        EXPECT_EQ(fields.ChkSum, "") << row.bytes.size();
        for (const auto& [heading, run] :
             {std::pair{"[ WRITE ]", &tarn::TarnOperations::write},
              std::pair{"[ VERIFY ]", &tarn::TarnOperations::verify}}) {
            writer.clearLog();
            EXPECT_FALSE((ops.*run)());
            EXPECT_EQ(lines(), (std::vector<std::string>{
                                   heading, "Start: 04:50:07", "  -> Open DAT file...",
                                   "    [X] Failed file size!", "  -> Disable chip...",
                                   "    [O] Finished!", "  -> Done!", "End: 04:50:07"}))
                << heading << " " << row.bytes.size();
            EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x11})) << heading;
        }
    }
    EXPECT_EQ(chipPage(0), Bytes(1024, 0xFF));
    EXPECT_TRUE(tempFiles().empty());  // refused before the log file
}

TEST_F(TarnWriteTest, WholeUserAreaIsAccepted) {
    takeSparseImage(124032);
    fields.InfoPage = "17";
    writer.setLogging(false);
    ASSERT_TRUE(ops.write());
    EXPECT_TRUE(pane.has("    [O] Passed!"));
    EXPECT_EQ(chip->statuses().count(0x12), 124032u);
    EXPECT_EQ(chipPage(0x1E47F), Bytes(1024, 0x00));
    EXPECT_EQ(chipPage(0x1E480), Bytes(1024, 0xFF));  // nothing in the spare area
    EXPECT_EQ(pane.progress, 100);
    EXPECT_EQ(pgm(), "");
}

TEST_F(TarnWriteTest, BadPagesAreMirroredIntoTheNextUsableSparePages) {
    Bytes image = test::patternImage(10);
    loadImage(image);
    fields.InfoPage = "6";
    chip->setBadPage(5);        // an information page
    chip->setBadPage(8);        // a data page
    chip->setBadPage(0x1E481);  // the second spare fails and is passed over
    ASSERT_TRUE(ops.write());
    EXPECT_EQ(pgm(),
              "[X] Failed to write page: 0x000005 (Data failed!), \n"
              "    mirror this page to: 0x01E480.\n"
              "[X] Failed to write page: 0x000008 (CheckSum failed!), \n"
              "    mirror this page to: 0x01E482.\n");
    EXPECT_EQ(chipPage(0x1E480), test::pageOf(image, 5));
    EXPECT_EQ(chipPage(0x1E481), Bytes(1024, 0xFF));
    EXPECT_EQ(chipPage(0x1E482), test::pageOf(image, 8));
    EXPECT_EQ(chipPage(9), test::pageOf(image, 9));
    // Map page 0x1FE00: entry of page 5 at 18 (row 1, slot 1), of page 8 at 32, low byte first.
    EXPECT_EQ(chip->byteAt(0x1FE00, 18), 0x80);
    EXPECT_EQ(chip->byteAt(0x1FE00, 19), 0xE4);
    EXPECT_EQ(chip->byteAt(0x1FE00, 32), 0x82);
    EXPECT_EQ(chip->byteAt(0x1FE00, 33), 0xE4);
    EXPECT_EQ(commands(0x16).size(), 2u);
    // The spares are programmed with the failed page's own method.
    const auto reads = pages(0x14);
    const auto sums = pages(0x17);
    EXPECT_EQ(std::count(reads.begin(), reads.end(), 0x1E480u), 3);
    EXPECT_EQ(std::count(sums.begin(), sums.end(), 0x1E480u), 0);
    EXPECT_EQ(std::count(sums.begin(), sums.end(), 0x1E481u), 1);
    EXPECT_TRUE(pane.has("    [O] Passed!"));
    EXPECT_EQ(pane.find("    [X] Data failed!"), -1);  // failing attempts are not logged
}

TEST_F(TarnWriteTest, SpareAreaExhaustedStopsTheWriteAndReleases) {
    Bytes image = test::patternImage(3);
    loadImage(image);
    fields.InfoPage = "0";
    writer.setLogging(false);
    chip->setBadPage(1);
    chip->setBadPages(0x1E480, 6528);
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(tail(6),
              (std::vector<std::string>{"  -> Write chip...", "    [X] Memory has been exhausted!",
                                        "  -> Disable chip...", "    [O] Finished!", "  -> Done!",
                                        "End: 04:50:07"}));
    EXPECT_EQ(pgm(), "[X] Failed to write page: 0x000001 (CheckSum failed!), \n");
    // Pages 0 and 1, then every spare once; page 2 is never reached.
    EXPECT_EQ(chip->statuses().count(0x12), 2u + 6528u);
    EXPECT_EQ(chip->statuses().count(0x11), 1u);
    EXPECT_EQ(chipPage(2), Bytes(1024, 0xFF));
    EXPECT_EQ(chipPage(0x1FE00), Bytes(1024, 0xFF));
}

TEST_F(TarnWriteTest, UsedUpSpareAreaNeverSpillsIntoTheMirrorMap) {
    Bytes image(2 * 1024, 0x00);
    loadImage(image);
    fields.InfoPage = "0";
    writer.setLogging(false);
    chip->setBadPages(0, 2);
    chip->setBadPages(0x1E480, 6527);  // only the last spare page works
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(pgm(),
              "[X] Failed to write page: 0x000000 (CheckSum failed!), \n"
              "    mirror this page to: 0x01FDFF.\n"
              "[X] Failed to write page: 0x000001 (CheckSum failed!), \n");
    EXPECT_TRUE(pane.has("    [X] Memory has been exhausted!"));
    EXPECT_EQ(chipPage(0x1FDFF), Bytes(1024, 0x00));
    // The map holds the one entry and nothing else: page 1 was not programmed into it.
    Bytes map(1024, 0xFF);
    map[0] = 0xFF;
    map[1] = 0xFD;
    EXPECT_EQ(chipPage(0x1FE00), map);
    EXPECT_EQ(chip->statuses().count(0x12), 1u + 6528u + 1u);
}

TEST_F(TarnWriteTest, MirrorEntryNotWrittenStopsTheWrite) {
    loadImage(test::patternImage(6));
    fields.InfoPage = "0";
    chip->setBadPage(2);
    chip->statuses().failNth(0x16, 1, 0x02);
    EXPECT_FALSE(ops.write());
    EXPECT_TRUE(
        pane.has("    [X] Failed to mirror bad page! (   [X] Chip can not leave program mode!)"));
    EXPECT_EQ(pgm(), "[X] Failed to write page: 0x000002 (CheckSum failed!), \n");
    EXPECT_EQ(pages(0x12), (std::vector<std::uint32_t>{0, 1, 2, 0x1E480}));
    EXPECT_EQ(writer.commandCodes().back(), 0x11);
    EXPECT_EQ(tail(4), closing());
}

TEST_F(TarnWriteTest, ModifiedFileNeverDetectsTheChipYetReleasesIt) {
    auto path = loadImage(test::patternImage(2));
    {
        std::ofstream grow(path, std::ios::app | std::ios::binary);
        grow.put('x');
    }
    writer.clearLog();
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(lines(),
              (std::vector<std::string>{"[ WRITE ]", "Start: 04:50:07", "  -> Open DAT file...",
                                        "    [X] This DAT file was modified! " + path.string(),
                                        "  -> Disable chip...", "    [O] Finished!", "  -> Done!",
                                        "End: 04:50:07"}));
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x11}));

    std::filesystem::remove(path);
    EXPECT_FALSE(ops.write());
    EXPECT_TRUE(pane.has("    [X] Failed to open DAT file: " + path.string()));
    fields.LoadFile = dir.path().string();
    EXPECT_FALSE(ops.write());
    EXPECT_TRUE(pane.has("    [X] Failed to open DAT file: " + dir.path().string()));
    EXPECT_FALSE(lock.locked);

    // A pipe is no image: its load fails at once, as a file that cannot be
    // opened, and the write never waits on it either.
    auto pipe = dir / "pipe.bin";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int keepOpen = ::open(pipe.c_str(), O_RDWR);  // a writer is there, and still refused
    files.openAnswers.push_back(pipe.string());
    const std::string sizeBefore = fields.FileSize;
    EXPECT_FALSE(loadFile());
    EXPECT_TRUE(pane.has("    [X] Can't open this file!"));
    EXPECT_EQ(fields.FileSize, sizeBefore);
    fields.LoadFile = pipe.string();
    fields.PageCnt = "1";
    writer.clearLog();
    EXPECT_FALSE(ops.write());
    EXPECT_TRUE(pane.has("    [X] Failed to open DAT file: " + pipe.string()));
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x11}));
    ::close(keepOpen);
}

TEST_F(TarnWriteTest, WriterPulledOutMidWriteIsNotABadPage) {
    loadImage(test::patternImage(6));
    fields.InfoPage = "0";
    // Detect is transfer 1; each data page takes nine: page 3 begins at 29.
    writer.setTransferHook([&](std::uint64_t n) {
        if (n == 29) writer.unplug();
    });
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(tail(6), (std::vector<std::string>{
                           "  -> Write chip...", "    [X] USB failed!", "  -> Disable chip...",
                           "    [X]    [X] USB failed!", "  -> Done!", "End: 04:50:07"}));
    EXPECT_EQ(pgm(), "[X] Failed to write page: 0x000003 (USB failed!), \n");
    // One box for the page, one for the release that was still tried.
    ASSERT_EQ(prompter.boxes.size(), 2u);
    EXPECT_EQ(prompter.boxes[0],
              (test::Box{"ERROR", link::kNoDeviceText, core::BoxIcon::Error, false}));
    EXPECT_EQ(chip->statuses().count(0x12), 3u);  // no spare page was tried
    EXPECT_FALSE(lock.locked);
}

TEST_F(TarnWriteTest, LinkLostDuringTheSpareSearchEndsIt) {
    loadImage(test::patternImage(4));
    fields.InfoPage = "0";
    chip->setBadPage(1);
    chip->setBadPage(0x1E480);
    // Page 0 takes transfers 2..10; page 1 fails on its sum (11..15), the
    // first spare too (16..20); the link dies at the second spare (21).
    writer.setTransferHook([&](std::uint64_t n) {
        if (n == 21) writer.unplug();
    });
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(pgm(), "[X] Failed to write page: 0x000001 (CheckSum failed!), \n");
    EXPECT_TRUE(pane.has("    [X] USB failed!"));
    EXPECT_EQ(prompter.boxes.size(), 2u);
    EXPECT_EQ(chip->statuses().count(0x12), 3u);
}

TEST_F(TarnWriteTest, ImageShrunkDuringTheWriteStopsAtItsEnd) {
    auto path = loadImage(test::patternImage(200));
    fields.InfoPage = "0";
    writer.setTransferHook([&](std::uint64_t n) {
        if (n == 2) std::filesystem::resize_file(path, 0);
    });
    EXPECT_FALSE(ops.write());
    EXPECT_TRUE(pane.has("    [X] This DAT file was modified! " + path.string()));
    // The pages already buffered are written, nothing past them.
    const auto programmed = chip->statuses().count(0x12);
    EXPECT_GT(programmed, 0u);
    EXPECT_LT(programmed, 200u);
    EXPECT_EQ(chipPage(std::uint32_t(programmed)), Bytes(1024, 0xFF));
}

TEST_F(TarnWriteTest, DetectFailureAndLogFileFailureStillRelease) {
    loadImage(test::patternImage(2));
    fields.InfoPage = "2";
    chip->setDetectStatus(0x11);
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(tail(6),
              (std::vector<std::string>{"  -> Chip detect...", "    [X]    [X] VCC failed!",
                                        "  -> Disable chip...", "    [O] Finished!", "  -> Done!",
                                        "End: 04:50:07"}));
    EXPECT_EQ(pgm(), "");

    chip->setDetectStatus(0);
    auto blocker = dir.write("blocker", std::string("file"));
    paths.tempDir = blocker / "Temp";
    writer.clearLog();
    EXPECT_FALSE(ops.write());
    EXPECT_TRUE(pane.has("    [X] Failed to create LOG file!"));
    EXPECT_FALSE(pane.has("  -> Chip detect..."));
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x11}));
}

TEST_F(TarnWriteTest, SecondWriteInTheSameMinuteKeepsTheFirstLog) {
    loadImage(test::patternImage(3));
    fields.InfoPage = "0";
    chip->setBadPage(1);
    ASSERT_TRUE(ops.write());
    const auto first = ops.lastFile();
    EXPECT_EQ(first.filename(), "PGM_20110607-0450.log");
    chip->clearBadPages();
    ASSERT_TRUE(ops.write());
    EXPECT_EQ(ops.lastFile().filename(), "PGM_20110607-0450-2.log");
    EXPECT_TRUE(pane.has("    [O] LOG file: " + ops.lastFile().string()));
    EXPECT_EQ(test::readText(first),
              "[X] Failed to write page: 0x000001 (CheckSum failed!), \n"
              "    mirror this page to: 0x01E480.\n");
}

TEST_F(TarnWriteTest, FullDiskLosingTheRecordsDoesNotEndWithPassed) {
    Bytes image = test::patternImage(3);
    loadImage(image);
    fields.InfoPage = "0";
    chip->setBadPage(1);
    bool passed = true;
    {
        test::FullDisk full(0);  // the log is created but takes no record
        passed = ops.write();
    }
    EXPECT_FALSE(passed);
    EXPECT_EQ(tail(7),
              (std::vector<std::string>{"  -> Write chip...",
                                        "    [!] 1 pages were moved to the spare area (see the PGM "
                                        "log).",
                                        "    [X] Failed to write LOG file!", "  -> Disable chip...",
                                        "    [O] Finished!", "  -> Done!", "End: 04:50:07"}));
    EXPECT_EQ(pgm(), "");
    // The chip itself is complete.
    EXPECT_EQ(chipPage(0x1E480), test::pageOf(image, 1));
    EXPECT_EQ(chipPage(2), test::pageOf(image, 2));
    EXPECT_EQ(chip->byteAt(0x1FE00, 2), 0x80);
}

TEST_F(TarnWriteTest, LinkDyingAtAnyTransferEndsWithOneFailureAndTheRelease) {
    Bytes image = test::patternImage(3);
    loadImage(image);
    fields.InfoPage = "1";
    chip->setBadPage(2);
    const std::uint64_t before = writer.transferCount();
    ASSERT_TRUE(ops.write());  // page 2 mirrored to the first spare
    const std::uint64_t whole = writer.transferCount() - before;
    for (std::uint64_t k = 1; k <= whole; ++k) {
        chip->erase();
        chip->statuses().clear();
        writer.clearFaults();
        prompter.boxes.clear();
        const std::uint64_t base = writer.transferCount();
        writer.failFrom(base + k);
        EXPECT_FALSE(ops.write()) << k;
        // The failed transfer and the release that was still tried, no spare search.
        EXPECT_EQ(prompter.boxes.size(), k < whole ? 2u : 1u) << k;
        EXPECT_EQ(lines().back(), "End: 04:50:07") << k;
        EXPECT_EQ(lines()[lines().size() - 3], "    [X]    [X] USB failed!") << k;
        EXPECT_FALSE(lock.locked) << k;
        EXPECT_EQ(chipPage(0x1E481), Bytes(1024, 0xFF)) << k;
    }
}

// The image is read many pages at a time: every file page, on either side of
// a block's edge and in the last, part-filled block, goes to its own chip page,
// and the verify after it compares each chip page with that same file page.
TEST_F(TarnWriteTest, PagesOnEitherSideOfTheReadBlocksLandOnTheirOwnChipPages) {
    Bytes image = test::patternImage(150);
    loadImage(image);
    fields.PageBeg = "1000";
    fields.InfoPage = "3";
    ASSERT_TRUE(ops.write());
    for (std::uint32_t k = 0; k < 150; ++k)
        ASSERT_EQ(chipPage(1000 + k), test::pageOf(image, k)) << k;
    EXPECT_EQ(chipPage(1150), Bytes(1024, 0xFF));
    // Program and read-back carry the same page's bytes.
    std::size_t blocks = 0;
    for (const auto& r : writer.log())
        if (r.kind == sim::TransferRecord::Kind::BulkOut && r.bytes.size() == 1024) {
            ASSERT_EQ(r.bytes, test::pageOf(image, static_cast<std::uint32_t>(blocks))) << blocks;
            ++blocks;
        }
    EXPECT_EQ(blocks, 150u);
    EXPECT_TRUE(ops.verify());

    // One wrong byte too many in a page of the third block is found at that page.
    fields.AllowError = "0";
    Bytes held = chipPage(1000 + 130);
    held[5] ^= 0x10;
    chip->writePage(1000 + 130, held.data());
    EXPECT_FALSE(ops.verify());
    EXPECT_EQ(test::readText(ops.lastFile()), "[X] Found 1 error(s) in page: 0x00046A\n");
    EXPECT_EQ(pages(0x14).back(), 1000u + 130u);
}

// A file cut to a part page while it is written: the pages it still holds
// whole are written, the part page is not programmed from a stale buffer.
TEST_F(TarnWriteTest, ImageCutInsideAPageStopsBeforeThatPage) {
    Bytes image = test::patternImage(100);
    auto path = loadImage(image);
    fields.InfoPage = "0";
    writer.setTransferHook([&](std::uint64_t n) {
        if (n == 2) std::filesystem::resize_file(path, 70 * 1024 + 500);
    });
    EXPECT_FALSE(ops.write());
    EXPECT_TRUE(pane.has("    [X] This DAT file was modified! " + path.string()));
    const auto programmed = static_cast<std::uint32_t>(chip->statuses().count(0x12));
    EXPECT_GE(programmed, 1u);
    EXPECT_LE(programmed, 70u);
    for (std::uint32_t k = 0; k < programmed; ++k)
        EXPECT_EQ(chipPage(k), test::pageOf(image, k)) << k;
    EXPECT_EQ(chipPage(programmed), Bytes(1024, 0xFF));
    EXPECT_EQ(writer.commandCodes().back(), 0x11);
}
