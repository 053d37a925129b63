#include <fstream>

#include "tests/support/TarnFixture.h"

using namespace sonoprog;
using core::LineKind;
using core::LogLine;
using test::Bytes;

namespace {

struct TarnLoadTest : test::TarnRig {
    std::filesystem::path put(const Bytes& bytes, const std::string& name = "image.bin") {
        auto path = dir.write(name, bytes);
        files.openAnswers.push_back(path.string());
        return path;
    }
    std::uint32_t sumOf(const Bytes& bytes) {
        std::uint32_t sum = 0;
        for (auto b : bytes) sum += b;
        return sum;
    }
};

}  // namespace

TEST_F(TarnLoadTest, SeventeenPagesWithInfoPageSeventeenLoad) {
    Bytes image = test::patternImage(17);
    auto path = put(image);
    fields.InfoPage = "17";
    ASSERT_TRUE(loadFile());
    const std::string sum = core::hex8(sumOf(image));
    EXPECT_EQ(lines(),
              (std::vector<std::string>{
                  "[ LOAD FILE ]", "  -> Open BIN file...", "    [O] Loaded file: " + path.string(),
                  "    [O] File size: 17408 (Byte)", "  -> Get file check sum...",
                  "    [O] File check sum: " + sum, "  -> Done!"}));
    EXPECT_EQ(pane.lines[0], (LogLine{LineKind::Heading, "[ LOAD FILE ]", std::nullopt, true}));
    EXPECT_EQ(pane.lines[3].colour, core::kPassBlue);
    EXPECT_EQ(fields.LoadFile, path.string());
    EXPECT_EQ(fields.FileSize, "17408");
    EXPECT_EQ(fields.ChkSum, sum);
    EXPECT_EQ(fields.PageBeg, "0");
    EXPECT_EQ(fields.PageCnt, "17");
    EXPECT_EQ(fields.InfoPage, "17");
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_EQ(files.requests[0].filter, "BIN file|*.bin");
    EXPECT_EQ(files.requests[0].defaultExtension, "bin");
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock"}));
    EXPECT_GE(yield.count, 1);
    EXPECT_TRUE(writer.log().empty());  // loading never talks to the Writer
}

TEST_F(TarnLoadTest, EighteenInfoPagesFailYetFillTheFields) {
    auto path = put(test::patternImage(17));
    fields.InfoPage = "18";
    fields.ChkSum = "0BADCAFE";
    EXPECT_FALSE(loadFile());
    EXPECT_EQ(lines(),
              (std::vector<std::string>{
                  "[ LOAD FILE ]", "  -> Open BIN file...", "    [O] Loaded file: " + path.string(),
                  "    [X] Failed file size!", "    [O] File size: 17408 (Byte)", "  -> Done!"}));
    EXPECT_EQ(pane.lines[3].colour, core::kFailRed);
    EXPECT_EQ(fields.LoadFile, path.string());
    EXPECT_EQ(fields.FileSize, "17408");
    EXPECT_EQ(fields.PageCnt, "17");
    EXPECT_EQ(fields.ChkSum, "");  // never the previous image's sum beside this file
    EXPECT_FALSE(lock.locked);
}

TEST_F(TarnLoadTest, PartialAndEmptyFilesFailTheSizeTest) {
    put(Bytes(1025, 0x00), "odd.bin");
    EXPECT_FALSE(loadFile());
    EXPECT_TRUE(pane.has("    [X] Failed file size!"));
    EXPECT_TRUE(pane.has("    [O] File size: 1025 (Byte)"));
    EXPECT_EQ(fields.PageCnt, "1");

    put(Bytes{}, "empty.bin");
    EXPECT_FALSE(loadFile());
    EXPECT_TRUE(pane.has("    [X] Failed file size!"));
    EXPECT_TRUE(pane.has("    [O] File size: 0 (Byte)"));
    EXPECT_FALSE(pane.has("  -> Get file check sum..."));
    EXPECT_EQ(fields.PageCnt, "0");
    EXPECT_EQ(fields.FileSize, "0");
}

TEST_F(TarnLoadTest, SixteenMebibytesOfErasedBytesWrapTheSum) {
    put(Bytes(0x1000000, 0xFF), "big.bin");
    ASSERT_TRUE(loadFile());
    EXPECT_EQ(fields.ChkSum, "FF000000");
    EXPECT_TRUE(pane.has("    [O] File check sum: FF000000"));
    EXPECT_EQ(fields.PageCnt, "16384");
    // The window breathes between large blocks, not before every byte.
    EXPECT_GE(yield.count, 1);
    EXPECT_LE(yield.count, 1 + 256);  // one per 64 KiB block at most
}

TEST_F(TarnLoadTest, EmptyInfoPageCountsZeroAndSecondLoadResetsStartPage) {
    fields.InfoPage = "";
    put(Bytes(1024, 0x01), "one.bin");
    ASSERT_TRUE(loadFile());
    EXPECT_EQ(fields.ChkSum, "00000400");

    fields.PageBeg = "55";
    fields.PageCnt = "3";
    put(test::patternImage(2), "two.bin");
    ASSERT_TRUE(loadFile());
    EXPECT_EQ(fields.PageBeg, "0");
    EXPECT_EQ(fields.PageCnt, "2");
}

TEST_F(TarnLoadTest, CancelWarnsAndChangesNothing) {
    fields.LoadFile = "/old.bin";
    fields.FileSize = "2048";
    EXPECT_FALSE(loadFile());
    EXPECT_EQ(lines(), (std::vector<std::string>{"[ LOAD FILE ]", "  -> Open BIN file...",
                                                 "    [!] Cancel!", "  -> Done!"}));
    EXPECT_EQ(pane.lines[2], (LogLine{LineKind::Warn, "    [!] Cancel!", core::kFailRed, false}));
    EXPECT_EQ(pane.lines[3].colour, std::nullopt);
    EXPECT_EQ(fields.LoadFile, "/old.bin");
    EXPECT_EQ(fields.FileSize, "2048");
    EXPECT_FALSE(lock.locked);
}

TEST_F(TarnLoadTest, MissingFilesAndFoldersCannotBeOpened) {
    fields.LoadFile = "/old.bin";
    files.openAnswers.push_back((dir / "missing.bin").string());
    EXPECT_FALSE(loadFile());
    EXPECT_EQ(lines(), (std::vector<std::string>{"[ LOAD FILE ]", "  -> Open BIN file...",
                                                 "    [X] Can't open this file!", "  -> Done!"}));
    files.openAnswers.push_back(dir.path().string());
    EXPECT_FALSE(loadFile());
    EXPECT_TRUE(pane.has("    [X] Can't open this file!"));
    EXPECT_EQ(fields.LoadFile, "/old.bin");
}

TEST_F(TarnLoadTest, FileBeyondTwoGibibytesDoesNotWrapIntoAValidSize) {
    // 4 GiB + 1 KiB would read as 1,024 bytes in 32 bits.
    auto path = dir / "huge.bin";
    { std::ofstream touch(path); }
    std::filesystem::resize_file(path, (std::uintmax_t{1} << 32) + 1024);
    files.openAnswers.push_back(path.string());
    EXPECT_FALSE(loadFile());
    EXPECT_TRUE(pane.has("    [X] Failed file size!"));
    EXPECT_TRUE(pane.has("    [O] File size: 4294968320 (Byte)"));
    EXPECT_FALSE(pane.has("  -> Get file check sum..."));
    // The write's size test cannot match it either.
    fields.PageCnt = "1";
    EXPECT_FALSE(ops.write());
    EXPECT_TRUE(pane.has("    [X] This DAT file was modified! " + path.string()));
}

TEST_F(TarnLoadTest, AFrontEndWithoutAWriterLoadsByPathButRunsNoChipOperation) {
    // The command line loads before it opens a Writer: the path comes as it
    // is, no dialog is asked, and the same lines come out.
    core::OperationServices noWriter = services;
    noWriter.link = nullptr;
    tarn::TarnOperations loader(fields, noWriter);
    const auto path = dir.write("image.bin", test::patternImage(17));
    fields.InfoPage = "0";
    ASSERT_TRUE(loader.loadImage(path.string()));
    EXPECT_EQ(fields.LoadFile, path.string());
    EXPECT_EQ(fields.PageCnt, "17");
    EXPECT_TRUE(files.requests.empty());
    EXPECT_EQ(lines().front(), "[ LOAD FILE ]");
    EXPECT_EQ(lines().back(), "  -> Done!");
    // Without a link a chip operation neither starts nor claims to pass.
    pane.lines.clear();
    lock.events.clear();
    EXPECT_FALSE(loader.write());
    EXPECT_FALSE(loader.verify());
    EXPECT_FALSE(loader.read());
    EXPECT_TRUE(pane.lines.empty());
    EXPECT_TRUE(lock.events.empty());
    EXPECT_TRUE(writer.log().empty());
}
