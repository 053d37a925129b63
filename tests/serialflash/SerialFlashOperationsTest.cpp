#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "core/OperationLog.h"
#include "serialflash/SerialFlashOperations.h"
#include "tests/support/SerialFlashFixture.h"

using namespace sonoprog;
using core::LineKind;
using core::LogLine;
using serialflash::SerialFlashFields;
using Codes = std::vector<std::uint8_t>;
using Lines = std::vector<LogLine>;

namespace {

LogLine heading(const std::string& t) {
    return {LineKind::Heading, t, std::nullopt, true};
}
LogLine step(const std::string& t) {
    return {LineKind::Step, t, std::nullopt, false};
}
LogLine pass(const std::string& t) {
    return {LineKind::Pass, "    [O] " + t, core::kPassBlue, false};
}
LogLine fail(const std::string& t) {
    return {LineKind::Fail, "    [X] " + t, core::kFailRed, false};
}
LogLine warn(const std::string& t) {
    return {LineKind::Warn, "    [!] " + t, core::kFailRed, false};
}

Lines closing(const std::string& failText = {}) {
    if (!failText.empty())
        return {step("  -> Disable chip..."), fail(failText), step("  -> Done!")};
    return {step("  -> Disable chip..."), pass("Finished!"), step("  -> Done!")};
}

Lines join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A write's lines up to its write step, when the file opened and the chip was erased.
Lines writeUpToWriteStep(const std::string& path, const std::string& device) {
    return {heading("[ WRITE ]"),
            step("  -> Open file..."),
            pass("Opened file: " + path),
            step("  -> Chip detect..."),
            pass("Device: " + device),
            step("  -> Erase chip..."),
            pass("Passed!"),
            step("  -> Write chip...")};
}

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

struct SerialFlashOperationsTest : ::testing::Test, test::RecordingServices {
    test::SerialFlashWriter bench;
    SerialFlashFields fields{"W25Q80", "1048576", "", "", ""};
    core::OperationServices services{log,   lock,        yield,      bench.prompter,
                                     clock, bench.paths, &bench.link};
    serialflash::SerialFlashOperations ops{fields, services};

    // Load File as the window runs it: the dialog shown once the heading is out.
    bool loadFile() {
        return ops.loadImage(
            core::openDialogChoice(files, serialflash::SerialFlashOperations::kImageDialog));
    }

    // Loads the file through Load File as the operator would.
    std::string load(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        auto path = bench.dir.write(name, bytes).string();
        files.openAnswers.push_back(path);
        EXPECT_TRUE(loadFile());
        restart();
        return path;
    }
    // Forget what earlier steps of a test sent and showed.
    void restart() {
        bench.writer.clearLog();
        pane.progressHistory.clear();
        lock.events.clear();
        yield.count = 0;
    }
    void expectUnlockedOnce() {
        EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock"}));
    }
};

}  // namespace

// ---- device lookup ----

TEST_F(SerialFlashOperationsTest, PickingADeviceShowsItsSizeWithoutLockOrLines) {
    fields.memSize.clear();
    EXPECT_TRUE(ops.deviceChange());
    EXPECT_EQ(fields.memSize, "1048576");
    EXPECT_TRUE(bench.prompter.boxes.empty());
    EXPECT_TRUE(pane.lines.empty());
    EXPECT_TRUE(lock.events.empty());
    EXPECT_TRUE(bench.codes().empty());
}

TEST_F(SerialFlashOperationsTest, ADeviceWithoutSizeShowsZeroAndTheBox) {
    for (const char* name : {"NoSize", "NotInTheFile", ""}) {
        fields.device = name;
        fields.memSize = "1048576";
        bench.prompter.boxes.clear();
        EXPECT_FALSE(ops.deviceChange()) << name;
        EXPECT_EQ(fields.memSize, "0") << name;
        ASSERT_EQ(bench.prompter.boxes.size(), 1u) << name;
        EXPECT_EQ(bench.prompter.boxes[0],
                  (test::Box{"ERROR", "Failed to get device infomation!", core::BoxIcon::Error}));
    }
}

// ---- load file ----

TEST_F(SerialFlashOperationsTest, WithoutAWriterALoadByPathWorksAndNoChipOperationRuns) {
    core::OperationServices noWriter = services;
    noWriter.link = nullptr;
    serialflash::SerialFlashOperations loader(fields, noWriter);
    const auto path = bench.dir.write("image.bin", pattern(100)).string();
    ASSERT_TRUE(loader.loadImage(path));
    EXPECT_EQ(fields.loadFile, path);
    EXPECT_EQ(fields.fileSize, "100");
    EXPECT_TRUE(files.requests.empty());
    pane.lines.clear();
    lock.events.clear();
    EXPECT_FALSE(loader.blankCheck());
    EXPECT_FALSE(loader.write());
    EXPECT_FALSE(loader.verify());
    EXPECT_TRUE(pane.lines.empty());
    EXPECT_TRUE(lock.events.empty());
    EXPECT_TRUE(bench.codes().empty());
}

TEST_F(SerialFlashOperationsTest, EmptyFileLoadsWithSizeZeroAndSumZero) {
    auto path = bench.dir.write("empty.bin", std::vector<std::uint8_t>{}).string();
    files.openAnswers.push_back(path);
    EXPECT_TRUE(loadFile());
    EXPECT_EQ(pane.lines, (Lines{heading("[ LOAD FILE ]"), step("  -> Open BIN file..."),
                                 pass("Loaded file: " + path), step("  -> Get file size..."),
                                 pass("File size: 0 (Byte)"), step("  -> Get file check sum..."),
                                 pass("File check sum: 00000000"), step("  -> Done!")}));
    EXPECT_EQ(fields.loadFile, path);
    EXPECT_EQ(fields.fileSize, "0");
    EXPECT_EQ(fields.chkSum, "00000000");
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_EQ(files.requests[0].filter, "BIN file|*.bin");
    EXPECT_EQ(files.requests[0].defaultExtension, "bin");
    expectUnlockedOnce();
    EXPECT_TRUE(bench.codes().empty());
}

TEST_F(SerialFlashOperationsTest, LoadSumsThroughTheSharedLoaderAndReloadsShowChanges) {
    auto path = load("abc.bin", {0x61, 0x62, 0x63});
    EXPECT_EQ(fields.fileSize, "3");
    EXPECT_EQ(fields.chkSum, "00000126");
    bench.dir.write("abc.bin", std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(fields.fileSize, "3");  // only a new load updates the fields
    files.openAnswers.push_back(path);
    EXPECT_TRUE(loadFile());
    EXPECT_EQ(fields.fileSize, "4");
    EXPECT_EQ(fields.chkSum, "000003FC");
    EXPECT_GE(yield.count, 1);  // the window breathes while the file is summed
}

TEST_F(SerialFlashOperationsTest, CancelledOrUnreadableLoadLeavesTheFields) {
    fields.loadFile = "old.bin", fields.fileSize = "10", fields.chkSum = "0000000A";
    EXPECT_FALSE(loadFile());  // no answer queued: cancelled
    EXPECT_EQ(pane.lines,
              (Lines{heading("[ LOAD FILE ]"), step("  -> Open BIN file..."), warn("Cancel!")}));
    files.openAnswers.push_back((bench.dir / "missing.bin").string());
    EXPECT_FALSE(loadFile());
    EXPECT_EQ(pane.lines, (Lines{heading("[ LOAD FILE ]"), step("  -> Open BIN file..."),
                                 fail("Can't open this file!")}));
    files.openAnswers.push_back(bench.dir.path().string());  // a folder is not a file
    EXPECT_FALSE(loadFile());
    EXPECT_EQ(pane.lines.back(), fail("Can't open this file!"));
    // A device that measures 0 bytes yet never ends is not summed for ever.
    files.openAnswers.push_back("/dev/zero");
    EXPECT_FALSE(loadFile());
    EXPECT_EQ(pane.lines.back(), fail("Can't open this file!"));
    EXPECT_EQ(fields.loadFile, "old.bin");
    EXPECT_EQ(fields.fileSize, "10");
    EXPECT_EQ(fields.chkSum, "0000000A");
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock", "lock", "unlock", "lock",
                                                     "unlock", "lock", "unlock"}));
}

// ---- blank check ----

TEST_F(SerialFlashOperationsTest, BlankCheckOfAMebibyteReadsEveryBlock) {
    EXPECT_TRUE(ops.blankCheck());
    EXPECT_EQ(pane.lines,
              join({{heading("[ BLANK CHECK ]"), step("  -> Chip detect..."),
                     pass("Device: W25Q80"), step("  -> Blank check..."), pass("Passed!")},
                    closing()}));
    auto sent = bench.commands();
    ASSERT_EQ(sent.size(), 1u + 21846u + 1u);
    EXPECT_EQ(sent.front()[0], 0x30);
    EXPECT_EQ(sent[1][0], 0x33);
    EXPECT_EQ(core::get24(sent[1], 2), 0u);
    EXPECT_EQ(sent[1][5], 48);
    EXPECT_EQ(core::get24(sent[21846], 2), 1048560u);
    EXPECT_EQ(sent.back()[0], 0x3F);
    EXPECT_EQ(pane.progressHistory.front(), 1);
    EXPECT_EQ(pane.progress, 100);  // 1048560 * 100 / 1048576 + 1
    EXPECT_EQ(yield.count, 21846);
    expectUnlockedOnce();
    EXPECT_TRUE(bench.writer.protocolErrors().empty());
}

TEST_F(SerialFlashOperationsTest, BlankCheckStopsAtTheFirstByteThatIsNotErased) {
    std::uint8_t programmed = 0x7F;
    bench.chip->memory().write(47, &programmed, 1);
    EXPECT_FALSE(ops.blankCheck());
    EXPECT_EQ(pane.lines, join({{heading("[ BLANK CHECK ]"), step("  -> Chip detect..."),
                                 pass("Device: W25Q80"), step("  -> Blank check..."),
                                 fail("Chip is not blank!")},
                                closing()}));
    EXPECT_EQ(bench.codes(), (Codes{0x30, 0x33, 0x3F}));
    EXPECT_EQ(pane.progress, 1);
    expectUnlockedOnce();
}

TEST_F(SerialFlashOperationsTest, BlankCheckJudgesOnlyTheBytesOfTheMemory) {
    // A device of 100 bytes on a larger part: bytes 100..143 of the last block
    // lie past the memory and must not fail it.
    std::vector<std::uint8_t> beyond(44, 0x00);
    bench.chip->memory().write(100, beyond.data(), beyond.size());
    fields.memSize = "100";
    EXPECT_TRUE(ops.blankCheck());
    EXPECT_TRUE(pane.has("    [O] Passed!"));
    auto sent = bench.commands();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(core::get24(sent[3], 2), 96u);
    // The byte just below the memory size is judged.
    std::uint8_t programmed = 0xFE;
    bench.chip->memory().write(99, &programmed, 1);
    EXPECT_FALSE(ops.blankCheck());
    EXPECT_TRUE(pane.has("    [X] Chip is not blank!"));
}

TEST_F(SerialFlashOperationsTest, BlankCheckWithNoDevicePickedFailsAfterDetect) {
    // A negative Size is no size: as 4 GiB it would read the chip over and over.
    for (const char* memSize : {"", "-1"}) {
        fields.memSize = memSize;
        bench.writer.clearLog();
        EXPECT_FALSE(ops.blankCheck());
        EXPECT_EQ(pane.lines, join({{heading("[ BLANK CHECK ]"), step("  -> Chip detect..."),
                                     pass("Device: W25Q80"), step("  -> Blank check..."),
                                     fail("Failed to get device infomation!")},
                                    closing()}));
        EXPECT_EQ(bench.codes(), (Codes{0x30, 0x3F}));
    }
}

TEST_F(SerialFlashOperationsTest, BlankCheckOfASizeBeyondTheWritersAddressesFailsBeforeAnyRead) {
    // 24-bit addresses: anything above 16 MiB would re-read the same 16 MiB.
    for (const char* memSize : {"4294967295", "16777217"}) {
        fields.memSize = memSize;
        bench.writer.clearLog();
        EXPECT_FALSE(ops.blankCheck()) << memSize;
        EXPECT_EQ(pane.lines, join({{heading("[ BLANK CHECK ]"), step("  -> Chip detect..."),
                                     pass("Device: W25Q80"), step("  -> Blank check..."),
                                     fail("Failed to get device infomation!")},
                                    closing()}))
            << memSize;
        EXPECT_EQ(bench.codes(), (Codes{0x30, 0x3F})) << memSize;
    }
}

TEST_F(SerialFlashOperationsTest, DetectStatusThreeGoesStraightToDisable) {
    bench.chip->setIds(0xEF, 0x14);
    EXPECT_FALSE(ops.blankCheck());
    EXPECT_EQ(
        pane.lines,
        join({{heading("[ BLANK CHECK ]"), step("  -> Chip detect..."), fail("Device ID failed!")},
              closing()}));
    EXPECT_EQ(bench.codes(), (Codes{0x30, 0x3F}));
    bench.writer.clearLog();
    bench.chip->statuses().failAll(0x30, 0x44);
    EXPECT_FALSE(ops.blankCheck());
    EXPECT_EQ(pane.lines[2], fail("Failed!"));
}

TEST_F(SerialFlashOperationsTest, IdsWithoutALowByteSendOnlyDisable) {
    for (const char* name : {"Hundred", "NotInTheFile"}) {
        bench.writer.clearLog();
        fields.device = name;
        EXPECT_FALSE(ops.blankCheck());
        EXPECT_EQ(pane.lines,
                  join({{heading("[ BLANK CHECK ]"), fail("Failed to get device infomation!")},
                        closing()}))
            << name;
        EXPECT_EQ(bench.codes(), (Codes{0x3F})) << name;
    }
}

TEST_F(SerialFlashOperationsTest, OnlyTheLowByteOfTheManufacturerIdIsSent) {
    fields.device = "Wide";  // MID 0x1EF
    fields.memSize = "256";
    EXPECT_TRUE(ops.blankCheck());
    auto sent = bench.commands();
    EXPECT_EQ(sent[0][2], 0x10);
    EXPECT_EQ(sent[0][3], 0xEF);
    EXPECT_EQ(sent[0][4], 0x13);
    EXPECT_TRUE(pane.has("    [O] Device: Wide"));
}

TEST_F(SerialFlashOperationsTest, BlankCheckReadFailureLogsUsbFailedAndStillDisables) {
    bench.writer.failTransfer(bench.writer.transferCount() + 3);
    EXPECT_FALSE(ops.blankCheck());
    EXPECT_EQ(pane.lines,
              join({{heading("[ BLANK CHECK ]"), step("  -> Chip detect..."),
                     pass("Device: W25Q80"), step("  -> Blank check..."), fail("USB failed!")},
                    closing()}));
    EXPECT_EQ(bench.prompter.boxes.size(), 1u);
    EXPECT_EQ(bench.codes(), (Codes{0x30, 0x33, 0x33, 0x3F}));
}

// ---- write and verify ----

TEST_F(SerialFlashOperationsTest, HundredByteFileIsWrittenAndVerifiedInThreeBlocks) {
    auto file = pattern(100);
    auto path = load("hundred.bin", file);
    EXPECT_TRUE(ops.write());
    EXPECT_EQ(pane.lines, join({writeUpToWriteStep(path, "W25Q80"),
                                {pass("Passed!"), step("  -> Verify chip..."), pass("Passed!")},
                                closing()}));
    auto sent = bench.commands();
    ASSERT_EQ(sent.size(), 9u);
    core::Packet detect{};
    detect[0] = 0x30, detect[2] = 0x10, detect[3] = 0xEF, detect[4] = 0x13;
    EXPECT_EQ(sent[0], detect);
    core::Packet erase = detect;  // the erase goes out in the detect's packet
    erase[0] = 0x31;
    EXPECT_EQ(sent[1], erase);
    const std::uint32_t starts[] = {0, 48, 96};
    const std::uint8_t counts[] = {48, 48, 4};
    for (int i = 0; i < 3; ++i) {
        const auto& w = sent[2 + i];
        EXPECT_EQ(w[0], 0x32);
        EXPECT_EQ(core::get24(w, 2), starts[i]);
        EXPECT_EQ(w[5], counts[i]);
        EXPECT_TRUE(
            std::equal(w.begin() + 16, w.begin() + 16 + counts[i], file.begin() + starts[i]));
        const auto& r = sent[5 + i];
        EXPECT_EQ(r[0], 0x33);
        EXPECT_EQ(core::get24(r, 2), starts[i]);
        EXPECT_EQ(r[5], counts[i]);
    }
    EXPECT_EQ(sent[8][0], 0x3F);
    EXPECT_EQ(bench.chipBytes(0, 100), file);
    EXPECT_EQ(bench.chipBytes(100, 48), std::vector<std::uint8_t>(48, 0xFF));
    EXPECT_EQ(pane.progressHistory, (std::vector<int>{0, 24, 48, 50, 74, 98, 100}));
    EXPECT_EQ(yield.count, 6);
    expectUnlockedOnce();
    EXPECT_TRUE(bench.writer.protocolErrors().empty());

    // Verify alone reads the same three blocks with its own texts.
    restart();
    EXPECT_TRUE(ops.verify());
    EXPECT_EQ(pane.lines,
              join({{heading("[ VERIFY ]"), step("  -> Open file."), pass("Opened file: " + path),
                     step("  -> Chip detect."), pass("Device: W25Q80"), step("  -> Verify chip."),
                     pass("Passed!")},
                    closing()}));
    EXPECT_EQ(bench.codes(), (Codes{0x30, 0x33, 0x33, 0x33, 0x3F}));
    EXPECT_EQ(core::get24(bench.commands()[3], 2), 96u);
    EXPECT_EQ(bench.commands()[3][5], 4);
    EXPECT_EQ(pane.progressHistory, (std::vector<int>{0, 48, 96, 100}));
}

TEST_F(SerialFlashOperationsTest, ErasingWaitsForTheWritersReply) {
    load("one.bin", {0x00});
    bench.chip->setEraseTime(std::chrono::milliseconds(60));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ops.write());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    EXPECT_EQ(bench.chipBytes(0, 2), (std::vector<std::uint8_t>{0x00, 0xFF}));
}

TEST_F(SerialFlashOperationsTest, SizeChangedFileIsRefusedBeforeAnyChipCommand) {
    auto path = load("grown.bin", pattern(100));
    bench.dir.write("grown.bin", pattern(101));
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(pane.lines, join({{heading("[ WRITE ]"), step("  -> Open file..."),
                                 fail("This file was modified! " + path)},
                                closing()}));
    EXPECT_EQ(bench.codes(), (Codes{0x3F}));
    restart();
    EXPECT_FALSE(ops.verify());
    EXPECT_EQ(pane.lines, join({{heading("[ VERIFY ]"), step("  -> Open file."),
                                 fail("his file was modified! " + path)},
                                closing()}));
    EXPECT_EQ(bench.codes(), (Codes{0x3F}));
    expectUnlockedOnce();
}

TEST_F(SerialFlashOperationsTest, ContentChangedFileOfTheSameSizeIsWritten) {
    load("same.bin", std::vector<std::uint8_t>(60, 0x01));
    std::vector<std::uint8_t> other(60, 0x42);
    bench.dir.write("same.bin", other);
    EXPECT_TRUE(ops.write());
    EXPECT_EQ(bench.chipBytes(0, 60), other);
    EXPECT_EQ(fields.chkSum, "0000003C");  // the recorded sum plays no part
}

TEST_F(SerialFlashOperationsTest, DeletedOrUnloadedFileFailsOnlyOnOpening) {
    EXPECT_FALSE(ops.write());  // nothing loaded: empty path
    EXPECT_EQ(
        pane.lines,
        join({{heading("[ WRITE ]"), step("  -> Open file..."), fail("Failed to open the file: ")},
              closing()}));
    EXPECT_EQ(bench.codes(), (Codes{0x3F}));
    auto path = load("gone.bin", pattern(10));
    std::filesystem::remove(path);
    EXPECT_FALSE(ops.verify());
    EXPECT_EQ(pane.lines, join({{heading("[ VERIFY ]"), step("  -> Open file."),
                                 fail("Failed to open the file: " + path)},
                                closing()}));
    EXPECT_EQ(bench.codes(), (Codes{0x3F}));
}

// The image is held against the device as the file is opened: one the
// device cannot take never reaches the chip, not even its detect or erase.
TEST_F(SerialFlashOperationsTest, ImagesTheDeviceCannotTakeAreRefusedBeforeTheChipIsTouched) {
    const std::vector<std::uint8_t> held = pattern(200);
    bench.chip->memory().write(0, held.data(), held.size());
    auto sparse = [&](const char* name, std::uintmax_t size) {
        const auto path = bench.dir / name;
        bench.dir.write(name, std::vector<std::uint8_t>{});
        std::filesystem::resize_file(path, size);
        return path.string();
    };
    const struct {
        std::string file;
        std::string fileSize;
        std::string memSize;
    } refused[] = {
        {bench.dir.write("big.bin", pattern(101)).string(), "101", "100"},
        {bench.dir.write("small.bin", pattern(10)).string(), "10", ""},  // no device picked
        {bench.dir.write("empty.bin", std::vector<std::uint8_t>{}).string(), "0", "1048576"},
        // The field says 32 MiB, but an address of 2^24 would wrap onto 0.
        {sparse("over.bin", (1u << 24) + 1), "16777217", "33554432"},
        // Sizes beyond 2^31 are still read as the unsigned sizes they are.
        {sparse("huge.bin", 3000000000u), "3000000000", "33554432"},
    };
    for (const auto& row : refused) {
        fields.loadFile = row.file;
        fields.fileSize = row.fileSize;
        fields.memSize = row.memSize;
        restart();
        EXPECT_FALSE(ops.write()) << row.file;
        EXPECT_EQ(pane.lines,
                  join({{heading("[ WRITE ]"), step("  -> Open file..."),
                         pass("Opened file: " + row.file), fail("Wronging range of file size!")},
                        closing()}))
            << row.file;
        EXPECT_EQ(bench.codes(), (Codes{0x3F})) << row.file;
        restart();
        EXPECT_FALSE(ops.verify()) << row.file;
        EXPECT_EQ(pane.lines,
                  join({{heading("[ VERIFY ]"), step("  -> Open file."),
                         pass("Opened file: " + row.file), fail("Wronging range of file size!")},
                        closing()}))
            << row.file;
        EXPECT_EQ(bench.codes(), (Codes{0x3F})) << row.file;
        expectUnlockedOnce();
    }
    EXPECT_EQ(bench.chipBytes(0, held.size()), held);
}

// A device of Setup.ini beyond the Writer's addresses is refused by every
// chip operation alike, before anything is sent but the closing command.
TEST_F(SerialFlashOperationsTest, ADeviceBeyondTheWritersAddressesIsRefusedByEveryOperation) {
    load("small.bin", pattern(10));
    fields.device = "Huge";
    fields.memSize = "33554432";  // what a field could still hold from before
    EXPECT_FALSE(ops.deviceChange());
    EXPECT_EQ(fields.memSize, "0");
    fields.memSize = "33554432";
    const struct {
        const char* heading;
        bool (serialflash::SerialFlashOperations::*run)();
    } operations[] = {
        {"[ BLANK CHECK ]", &serialflash::SerialFlashOperations::blankCheck},
        {"[ WRITE ]", &serialflash::SerialFlashOperations::write},
        {"[ VERIFY ]", &serialflash::SerialFlashOperations::verify},
    };
    for (const auto& op : operations) {
        restart();
        EXPECT_FALSE((ops.*op.run)()) << op.heading;
        EXPECT_EQ(pane.lines, join({{heading(op.heading), fail("Failed to get device infomation!")},
                                    closing()}))
            << op.heading;
        EXPECT_EQ(bench.codes(), (Codes{0x3F})) << op.heading;
    }
}

TEST_F(SerialFlashOperationsTest, WriteStatusStopsAtHalfAndSkipsVerify) {
    load("status.bin", pattern(200));
    bench.chip->statuses().failNth(0x32, 2, 0x11);
    EXPECT_FALSE(ops.write());
    auto path = fields.loadFile;
    EXPECT_EQ(pane.lines, join({writeUpToWriteStep(path, "W25Q80"),
                                {fail("Can not start to write memory!")},
                                closing()}));
    EXPECT_EQ(bench.codes(), (Codes{0x30, 0x31, 0x32, 0x32, 0x3F}));
    EXPECT_EQ(pane.progress, 50);
}

TEST_F(SerialFlashOperationsTest, EraseStatusSkipsTheWrite) {
    load("erase.bin", pattern(20));
    bench.chip->statuses().failAll(0x31, 0x10);
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(pane.lines[6], fail("Can not remove momory protect!"));
    EXPECT_EQ(pane.lines[7], step("  -> Disable chip..."));
    EXPECT_EQ(bench.codes(), (Codes{0x30, 0x31, 0x3F}));
}

TEST_F(SerialFlashOperationsTest, MismatchInTheFirstVerifyBlockLeavesTheGaugeFull) {
    load("mismatch.bin", pattern(100));
    // Something spoils the chip between the write and the read-back.
    bench.writer.setTransferHook([this](std::uint64_t n) {
        if (bench.writer.commandCodes().size() == 5 && n > 0) {
            std::uint8_t spoiled = 0x00;
            bench.chip->memory().write(3, &spoiled, 1);
        }
    });
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(pane.lines[9], step("  -> Verify chip..."));
    EXPECT_EQ(pane.lines[10], fail("Verify failed!"));
    EXPECT_EQ(pane.lines[11], step("  -> Disable chip..."));
    EXPECT_EQ(pane.progress, 100);
    EXPECT_EQ(bench.codes(), (Codes{0x30, 0x31, 0x32, 0x32, 0x32, 0x33, 0x3F}));

    // Verify on a blank chip fails in its first block as well.
    bench.writer.setTransferHook({});
    std::uint8_t erased[100];
    std::fill(std::begin(erased), std::end(erased), 0xFF);
    bench.chip->memory().write(0, erased, sizeof erased);
    restart();
    EXPECT_FALSE(ops.verify());
    EXPECT_EQ(pane.lines,
              join({{heading("[ VERIFY ]"), step("  -> Open file."),
                     pass("Opened file: " + fields.loadFile), step("  -> Chip detect."),
                     pass("Device: W25Q80"), step("  -> Verify chip."), fail("Verify failed!")},
                    closing()}));
    EXPECT_EQ(pane.progressHistory, (std::vector<int>{0, 100}));
}

TEST_F(SerialFlashOperationsTest, WriterPulledOutMidWriteGivesTwoBoxes) {
    load("pulled.bin", pattern(500));
    const std::uint64_t base = bench.writer.transferCount();
    // Transfers: detect, erase, write blocks...; the cable goes at the third block.
    bench.writer.setTransferHook([&](std::uint64_t n) {
        if (n == base + 5) bench.writer.unplug();
    });
    EXPECT_FALSE(ops.write());
    auto path = fields.loadFile;
    EXPECT_EQ(
        pane.lines,
        join({writeUpToWriteStep(path, "W25Q80"), {fail("USB failed!")}, closing("SB failed!")}));
    ASSERT_EQ(bench.prompter.boxes.size(), 2u);
    for (const auto& box : bench.prompter.boxes) {
        EXPECT_EQ(box.caption, "ERROR");
        EXPECT_EQ(box.icon, core::BoxIcon::Error);
    }
    EXPECT_EQ(pane.progress, 50);
    expectUnlockedOnce();
}

TEST_F(SerialFlashOperationsTest, VerifyDisableFailureReadsUsbFailed) {
    load("v.bin", pattern(10));
    bench.writer.failFrom(bench.writer.transferCount() + 3);  // detect, read, then disable
    EXPECT_FALSE(ops.verify());
    EXPECT_EQ(pane.lines[pane.lines.size() - 2], fail("USB failed!"));
    EXPECT_TRUE(pane.has("    [X] Verify failed!"));
}

TEST_F(SerialFlashOperationsTest, AFileCutShortDuringTheRunIsNeverProgrammedWithStaleBytes) {
    // Larger than one read chunk, so that the cut is met when the next chunk is read.
    const std::size_t size = (1u << 20) + 100;
    bench.chip->setSize(2u << 20);
    fields.memSize = "2097152";
    auto path = load("cut.bin", pattern(size));
    const std::uint64_t lastWhole = (1u << 20) / 48;  // block 21845 straddles the cut
    auto cutAt = [&](std::uint64_t transfer) {
        bench.writer.setTransferHook([&, transfer](std::uint64_t n) {
            if (n == transfer) std::filesystem::resize_file(path, (1u << 20) + 10);
        });
    };
    cutAt(bench.writer.transferCount() + 3);  // at the first write block
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(pane.lines[8], fail("This file was modified! " + path));
    EXPECT_EQ(pane.lines[9], step("  -> Disable chip..."));
    auto codes = bench.codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x32), static_cast<long>(lastWhole));
    EXPECT_EQ(codes.back(), 0x3F);
    // The block at the cut would have carried bytes of the block before it.
    EXPECT_EQ(bench.chipBytes(lastWhole * 48, 48), std::vector<std::uint8_t>(48, 0xFF));

    bench.writer.setTransferHook({});
    bench.dir.write("cut.bin", pattern(size));
    ASSERT_TRUE(ops.write());
    restart();
    cutAt(bench.writer.transferCount() + 3);  // at the second read block
    EXPECT_FALSE(ops.verify());
    EXPECT_TRUE(pane.has("    [X] his file was modified! " + path));
    EXPECT_FALSE(pane.has("    [X] Verify failed!"));
    codes = bench.codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x33), static_cast<long>(lastWhole + 1));
}

// ---- the operator's stop ----

TEST_F(SerialFlashOperationsTest, StopEndsTheBlockLoopWithTheWarnLineAndStillDisables) {
    test::StopAfter stop;  // each loop asks once per block
    struct Case {
        const char* name;
        bool (serialflash::SerialFlashOperations::*run)();
        int after;
        Codes codes;  // what reached the Writer
        Lines lines;  // from the step whose loop was stopped
    };
    auto path = load("hundred.bin", pattern(100));
    const Case cases[] = {
        {"blank check",
         &serialflash::SerialFlashOperations::blankCheck,
         2,
         Codes{0x30, 0x33, 0x33, 0x3F},
         {step("  -> Blank check..."), warn("Stopped by the operator.")}},
        {"write",
         &serialflash::SerialFlashOperations::write,
         1,
         Codes{0x30, 0x31, 0x32, 0x3F},
         {step("  -> Write chip..."), warn("Stopped by the operator.")}},
        {"write, in its verify",
         &serialflash::SerialFlashOperations::write,
         4,
         Codes{0x30, 0x31, 0x32, 0x32, 0x32, 0x33, 0x3F},
         {step("  -> Verify chip..."), warn("Stopped by the operator.")}},
        {"verify",
         &serialflash::SerialFlashOperations::verify,
         0,
         Codes{0x30, 0x3F},
         {step("  -> Verify chip."), warn("Stopped by the operator.")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        stop.after = c.after;
        stop.asked = 0;
        core::OperationServices stoppable = services;
        stoppable.stop = &stop;
        serialflash::SerialFlashOperations run(fields, stoppable);
        EXPECT_FALSE((run.*c.run)());
        EXPECT_EQ(bench.codes(), c.codes);
        ASSERT_GE(pane.lines.size(), c.lines.size() + 3);
        const Lines end(pane.lines.end() - std::ptrdiff_t(c.lines.size() + 3), pane.lines.end());
        EXPECT_EQ(end, join({c.lines, closing()}));
        expectUnlockedOnce();
    }
    EXPECT_EQ(fields.loadFile, path);
}
