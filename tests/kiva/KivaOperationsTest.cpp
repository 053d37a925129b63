#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "core/NumberText.h"
#include "ivr/Ivr2bin.h"
#include "ivr/IvrEncoder.h"
#include "kiva/KivaOperations.h"
#include "link/Link.h"
#include "sim/KivaChip.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"
#include "tests/support/KivaFixture.h"
#include "tests/support/LogLines.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
using core::LineKind;
using core::LogLine;

namespace {

constexpr std::size_t kN = 4096;

using test::failLine;
using test::headingLine;
using test::passLine;
using test::stepLine;
using test::warnLine;

std::vector<std::uint8_t> codes(std::uint8_t first, int blocks, std::uint8_t block,
                                std::uint8_t last) {
    std::vector<std::uint8_t> out{first};
    out.insert(out.end(), blocks, block);
    out.push_back(last);
    return out;
}

template <typename... V>
std::vector<std::uint8_t> concat(const V&... parts) {
    std::vector<std::uint8_t> out;
    (out.insert(out.end(), parts.begin(), parts.end()), ...);
    return out;
}

// An image with header length L = 16 and random bytes after it.
std::vector<std::uint8_t> randomImage(unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> img(kN);
    for (auto& b : img) b = static_cast<std::uint8_t>(rng());
    img[0] = 8;
    img[1] = 0;
    return img;
}

std::vector<std::uint8_t> stamped(std::vector<std::uint8_t> img) {
    const std::uint16_t word = ivr::ivrCheckWord(img.data(), img.size());
    img[14] = static_cast<std::uint8_t>(word);
    img[15] = static_cast<std::uint8_t>(word >> 8);
    return img;
}

// The gauge values a pass over the test image shows, one per block.
std::vector<int> gauge(std::uint32_t divisor, int offset) {
    std::vector<int> out;
    for (std::uint32_t p = 0; p < kN; p += 48) out.push_back(int(p * 100 / divisor) + offset);
    return out;
}

using KivaFixture = test::KivaRig;

}  // namespace

TEST(KivaCommandTable, DetectStatusesHaveTheirMessages) {
    EXPECT_EQ(kiva::detectStatusMessage(0x20, 0x10), "VDD failed!");
    EXPECT_EQ(kiva::detectStatusMessage(0x23, 0x10), " VDD failed!");
    for (std::uint8_t code : {0x20, 0x23}) {
        EXPECT_EQ(kiva::detectStatusMessage(code, 0x11), "VPP failed!");
        EXPECT_EQ(kiva::detectStatusMessage(code, 0x12), "I/O failed!");
        EXPECT_EQ(kiva::detectStatusMessage(code, 0x20), "Device ID failed!");
        EXPECT_EQ(kiva::detectStatusMessage(code, 0x13), "Failed!");
        EXPECT_EQ(kiva::detectStatusMessage(code, 0xFF), "Failed!");
    }
    EXPECT_EQ(kiva::blockCount(0), 48);
    EXPECT_EQ(kiva::blockCount(4032), 48);
    EXPECT_EQ(kiva::blockCount(4080), 16);
    EXPECT_EQ(kiva::blockCount(4096), 0);
}

TEST_F(KivaFixture, BlankCheckOfABlankChipNeedsNoFile) {
    EXPECT_TRUE(ops.blankCheck());
    EXPECT_EQ(pane.lines,
              (std::vector<LogLine>{headingLine("[ BLANK CHECK ]"), stepLine("  -> Chip detect..."),
                                    passLine("Device: Kiva300"), stepLine("  -> Blank check..."),
                                    passLine("Passed!"), stepLine("  -> Disable chip..."),
                                    passLine("Finished!"), stepLine("  -> Done!")}));
    EXPECT_EQ(writer.commandCodes(), codes(0x20, 86, 0x21, 0x22));
    auto counts = blockCounts(0x21);
    ASSERT_EQ(counts.size(), 86u);
    EXPECT_TRUE(std::all_of(counts.begin(), counts.end() - 1, [](auto n) { return n == 48; }));
    EXPECT_EQ(counts.back(), 16);
    auto expectedGauge = gauge(4096, 0);
    expectedGauge.push_back(100);
    EXPECT_EQ(pane.progressHistory, expectedGauge);
    EXPECT_EQ(expectedGauge[85], 99);
    EXPECT_EQ(yield.count, 86);
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock"}));
    EXPECT_EQ(pane.clears, 1);
    EXPECT_TRUE(writer.protocolErrors().empty());
    EXPECT_EQ(chip->pass(), sim::KivaChip::Pass::None);
}

TEST_F(KivaFixture, BlankCheckStopsAtTheFirstProgrammedByte) {
    const std::uint8_t zero = 0x7F;
    chip->memory().program(100, &zero, 1);
    EXPECT_FALSE(ops.blankCheck());
    EXPECT_EQ(pane.lines, (std::vector<LogLine>{
                              headingLine("[ BLANK CHECK ]"), stepLine("  -> Chip detect..."),
                              passLine("Device: Kiva300"), stepLine("  -> Blank check..."),
                              failLine("Chip is not blank!"), stepLine("  -> Disable chip..."),
                              passLine("Finished!"), stepLine("  -> Done!")}));
    EXPECT_EQ(writer.commandCodes(), codes(0x20, 3, 0x21, 0x22));
    EXPECT_EQ(pane.progressHistory, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(writer.protocolErrors().empty());
}

TEST_F(KivaFixture, DetectStatusesStopBeforeTheFirstBlock) {
    const std::pair<std::uint8_t, std::string> cases[] = {{0x10, "VDD failed!"},
                                                          {0x11, "VPP failed!"},
                                                          {0x12, "I/O failed!"},
                                                          {0x20, "Device ID failed!"},
                                                          {0x42, "Failed!"}};
    for (const auto& [status, text] : cases) {
        writer.clearLog();
        chip->setDetectStatus(status);
        EXPECT_FALSE(ops.blankCheck());
        EXPECT_EQ(pane.lines, (std::vector<LogLine>{
                                  headingLine("[ BLANK CHECK ]"), stepLine("  -> Chip detect..."),
                                  failLine(text), stepLine("  -> Disable chip..."),
                                  passLine("Finished!"), stepLine("  -> Done!")}));
        EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x20, 0x22}));
        EXPECT_EQ(lock.locked, false);
    }
}

TEST_F(KivaFixture, WriteProgramsThenReadsBack) {
    const auto img = randomImage(1);
    fields.loadFile = writeDat("voice.dat", img);
    EXPECT_TRUE(ops.write());
    EXPECT_EQ(pane.lines, (std::vector<LogLine>{
                              headingLine("[ WRITE AND VERIFY ]"), stepLine("  -> Open file..."),
                              passLine("File: " + fields.loadFile), stepLine("  -> Chip detect..."),
                              passLine("Device: Kiva300"), stepLine("  -> Write chip..."),
                              passLine("Passed!"), stepLine("  -> Disable chip..."),
                              passLine("Finished!"), stepLine("  -> Chip detect..."),
                              passLine("Device: Kiva300"), stepLine("  -> Verify chip..."),
                              passLine("Passed!"), stepLine("  -> Disable chip..."),
                              passLine("Finished!"), stepLine("  -> Done!")}));
    EXPECT_EQ(writer.commandCodes(),
              concat(codes(0x23, 86, 0x24, 0x25), codes(0x20, 86, 0x21, 0x22)));
    EXPECT_EQ(chip->contents(), stamped(img));

    // The last program block carries n = 16 and image bytes 4,080..4,095.
    const sim::TransferRecord* last = nullptr;
    for (const auto& r : writer.log())
        if (r.kind == sim::TransferRecord::Kind::Command && r.bytes[0] == 0x24) last = &r;
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->bytes[2], 16);
    EXPECT_TRUE(std::equal(last->bytes.begin() + 16, last->bytes.begin() + 32, img.begin() + 4080));
    EXPECT_EQ(blockCounts(0x24).size(), 86u);

    auto expectedGauge = gauge(8192, 0);
    expectedGauge.push_back(50);
    const auto second = gauge(8192, 50);
    expectedGauge.insert(expectedGauge.end(), second.begin(), second.end());
    expectedGauge.push_back(100);
    EXPECT_EQ(pane.progressHistory, expectedGauge);
    EXPECT_EQ(yield.count, 172);
    EXPECT_TRUE(writer.protocolErrors().empty());
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock"}));
}

TEST_F(KivaFixture, VddFailureOnProgrammingDetectSkipsTheReadingPass) {
    fields.loadFile = writeDat("voice.dat", randomImage(2));
    chip->setDetectStatus(0x23, 0x10);
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(pane.lines, (std::vector<LogLine>{
                              headingLine("[ WRITE AND VERIFY ]"), stepLine("  -> Open file..."),
                              passLine("File: " + fields.loadFile), stepLine("  -> Chip detect..."),
                              failLine(" VDD failed!"), stepLine("  -> Disable chip..."),
                              passLine("Finished!"), stepLine("  -> Done!")}));
    EXPECT_EQ(pane.lines[4].text, "    [X]  VDD failed!");
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x23, 0x25}));
    EXPECT_TRUE(pane.progressHistory.empty());
    EXPECT_EQ(chip->contents(), std::vector<std::uint8_t>(kN, 0xFF));
}

TEST_F(KivaFixture, WriteWithABadFileSendsOnlyTheEndCommand) {
    fields.loadFile = dir.write("bad.dat", std::string("not a DAT file at all, really")).string();
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(pane.lines, (std::vector<LogLine>{
                              headingLine("[ WRITE AND VERIFY ]"), stepLine("  -> Open file..."),
                              failLine("Error IVR file!"), stepLine("  -> Disable chip..."),
                              passLine("Finished!"), stepLine("  -> Done!")}));
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x25}));

    fields.loadFile = (dir / "missing.dat").string();
    writer.clearLog();
    EXPECT_FALSE(ops.write());
    EXPECT_TRUE(pane.has("    [X] Can not open this file!"));
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x25}));
}

TEST_F(KivaFixture, ALostProgramBlockShowsUpInTheReadBack) {
    const auto img = randomImage(3);
    fields.loadFile = writeDat("voice.dat", img);
    chip->statuses().failNth(0x24, 5, 0x01);
    EXPECT_FALSE(ops.write());
    // Block 5 (bytes 192..239) is the first difference.
    EXPECT_EQ(writer.commandCodes(),
              concat(codes(0x23, 86, 0x24, 0x25), codes(0x20, 5, 0x21, 0x22)));
    const auto texts = pane.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "    [X] Failed!"), 1);
    EXPECT_EQ(pane.lines[pane.find("  -> Verify chip...") + 1], failLine("Failed!"));
    EXPECT_EQ(pane.lines.back(), stepLine("  -> Done!"));
    EXPECT_EQ(pane.progressHistory.back(), 52);
}

TEST_F(KivaFixture, AUsbFailureWhileProgrammingStopsTheWrite) {
    fields.loadFile = writeDat("voice.dat", randomImage(4));
    writer.failTransfer(11);  // detect, then the tenth program block
    EXPECT_FALSE(ops.write());
    EXPECT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].caption, "ERROR");
    EXPECT_EQ(pane.lines[pane.find("  -> Write chip...") + 1], failLine("USB failed!"));
    EXPECT_EQ(writer.commandCodes(), codes(0x23, 10, 0x24, 0x25));
    EXPECT_EQ(pane.lines.back(), stepLine("  -> Done!"));
    EXPECT_TRUE(pane.has("    [O] Finished!"));
}

TEST_F(KivaFixture, AnUnpluggedWriterFailsEveryExchange) {
    writer.unplug();
    EXPECT_FALSE(ops.blankCheck());
    EXPECT_EQ(pane.lines,
              (std::vector<LogLine>{headingLine("[ BLANK CHECK ]"), stepLine("  -> Chip detect..."),
                                    failLine("USB failed!"), stepLine("  -> Disable chip..."),
                                    failLine("USB failed!"), stepLine("  -> Done!")}));
    EXPECT_EQ(prompter.boxes.size(), 2u);
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock"}));
}

TEST_F(KivaFixture, VerifyMovesTheGaugeTo49ThenTo100) {
    const auto img = randomImage(5);
    fields.loadFile = writeDat("voice.dat", img);
    programChip(stamped(img));
    EXPECT_TRUE(ops.verify());
    EXPECT_EQ(pane.lines, (std::vector<LogLine>{
                              headingLine("[ VERIFY ]"), stepLine("  -> Open file..."),
                              passLine("File: " + fields.loadFile), stepLine("  -> Chip detect..."),
                              passLine("Device: Kiva300"), stepLine("  -> Verify chip..."),
                              passLine("Passed!"), stepLine("  -> Disable chip..."),
                              passLine("Finished!"), stepLine("  -> Done!")}));
    EXPECT_EQ(writer.commandCodes(), codes(0x20, 86, 0x21, 0x22));
    auto expectedGauge = gauge(8192, 0);
    EXPECT_EQ(expectedGauge.back(), 49);
    expectedGauge.push_back(100);
    EXPECT_EQ(pane.progressHistory, expectedGauge);
}

TEST_F(KivaFixture, VerifyOfAFileThatDoesNotConvertStillEndsTheReadingPass) {
    auto bad = std::vector<std::uint8_t>(100, 0);
    std::copy_n("KIVR", 4, bad.begin());
    bad[12] = 12;  // E - S = 12
    fields.loadFile = dir.write("bad.dat", bad).string();
    EXPECT_FALSE(ops.verify());
    EXPECT_EQ(pane.lines,
              (std::vector<LogLine>{headingLine("[ VERIFY ]"), stepLine("  -> Open file..."),
                                    failLine("Error IVR file!"), stepLine("  -> Disable chip..."),
                                    passLine("Finished!"), stepLine("  -> Done!")}));
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x22}));
    EXPECT_TRUE(pane.progressHistory.empty());
}

TEST_F(KivaFixture, AMismatchInVerifyLogsFailed) {
    const auto img = randomImage(6);
    fields.loadFile = writeDat("voice.dat", img);
    auto wrong = stamped(img);
    wrong[4095] ^= 0x01;
    programChip(wrong);
    EXPECT_FALSE(ops.verify());
    EXPECT_EQ(pane.lines[pane.find("  -> Verify chip...") + 1], failLine("Failed!"));
    EXPECT_FALSE(pane.has("    [X] Verify failed!"));
    EXPECT_FALSE(pane.has("    [O] Passed!"));
    EXPECT_EQ(writer.commandCodes(), codes(0x20, 86, 0x21, 0x22));
    EXPECT_EQ(pane.progressHistory.back(), 49);
}

TEST_F(KivaFixture, LoadFileShowsTheCheckWordAsFourHexDigits) {
    // L = 32: bytes 14 and 15 are plain image bytes, shown as they are.
    auto img = randomImage(7);
    img[0] = 16;
    img[14] = 0x34;
    img[15] = 0x12;
    const auto first = writeDat("first.dat", img);
    img[14] = 0x0A;
    img[15] = 0x00;
    const auto second = writeDat("second.dat", img);
    files.openAnswers = {first, second};

    EXPECT_TRUE(loadFile());
    EXPECT_EQ(fields.loadFile, first);
    EXPECT_EQ(fields.chkSum, "1234");
    EXPECT_EQ(pane.lines,
              (std::vector<LogLine>{headingLine("[ LOAD FILE ]"), stepLine("  -> Open BIN file..."),
                                    passLine("Loaded file: " + first),
                                    stepLine("  -> Get file check sum..."),
                                    passLine("File check sum: 1234"), stepLine("  -> Done!")}));
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_EQ(files.requests[0].filter, "DAT file|*.dat");
    EXPECT_EQ(files.requests[0].defaultExtension, "dat");

    EXPECT_TRUE(loadFile());
    EXPECT_EQ(fields.chkSum, "000A");
    EXPECT_TRUE(pane.has("    [O] File check sum: 000A"));
    EXPECT_TRUE(writer.commandCodes().empty());
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock", "lock", "unlock"}));
}

TEST_F(KivaFixture, LoadFileWithHeaderLength16ShowsTheStampedWord) {
    const auto img = randomImage(8);
    files.openAnswers = {writeDat("voice.dat", img)};
    EXPECT_TRUE(loadFile());
    const auto s = stamped(img);
    EXPECT_EQ(fields.chkSum, core::hex4(static_cast<std::uint16_t>(s[14] | (s[15] << 8))));
}

TEST_F(KivaFixture, AFailedLoadKeepsThePreviousFileForTheNextWrite) {
    const auto img = randomImage(9);
    const auto good = writeDat("good.dat", img);
    files.openAnswers = {good, dir.write("bad.dat", std::string(20, 'K')).string(),
                         (dir / "gone.dat").string(), dir.path().string()};
    ASSERT_TRUE(loadFile());
    const std::string word = fields.chkSum;

    EXPECT_FALSE(loadFile());
    EXPECT_EQ(pane.lines,
              (std::vector<LogLine>{headingLine("[ LOAD FILE ]"), stepLine("  -> Open BIN file..."),
                                    failLine("Error IVR file!")}));
    EXPECT_FALSE(loadFile());
    EXPECT_EQ(pane.lines.back(), failLine("Can not open this file!"));
    EXPECT_FALSE(loadFile());  // a folder
    EXPECT_EQ(pane.lines.back(), failLine("Can not open this file!"));
    EXPECT_EQ(fields.loadFile, good);
    EXPECT_EQ(fields.chkSum, word);
    EXPECT_FALSE(lock.locked);

    EXPECT_TRUE(ops.write());
    EXPECT_EQ(chip->contents(), stamped(img));
}

TEST_F(KivaFixture, WithoutAWriterALoadByPathWorksAndNoChipOperationRuns) {
    core::OperationServices noWriter = services;
    noWriter.link = nullptr;
    kiva::KivaOperations loader(fields, noWriter, keyTable);
    const auto path = writeDat("voice.dat", randomImage(11));
    ASSERT_TRUE(loader.loadImage(path));
    EXPECT_EQ(fields.loadFile, path);
    EXPECT_TRUE(files.requests.empty());
    pane.lines.clear();
    lock.events.clear();
    EXPECT_FALSE(loader.blankCheck());
    EXPECT_FALSE(loader.write());
    EXPECT_FALSE(loader.verify());
    EXPECT_TRUE(pane.lines.empty());
    EXPECT_TRUE(lock.events.empty());
    EXPECT_TRUE(writer.commandCodes().empty());
}

TEST_F(KivaFixture, CancellingTheDialogIsAWarning) {
    fields = {"/old/voice.dat", "ABCD"};
    EXPECT_FALSE(loadFile());
    EXPECT_EQ(pane.lines,
              (std::vector<LogLine>{headingLine("[ LOAD FILE ]"), stepLine("  -> Open BIN file..."),
                                    warnLine("Cancel!")}));
    EXPECT_EQ(fields.loadFile, "/old/voice.dat");
    EXPECT_EQ(fields.chkSum, "ABCD");
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock"}));
}

TEST_F(KivaFixture, ApplicationNoteWithNothingLoadedAsksForAFile) {
    EXPECT_FALSE(appNote());
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0],
              (test::Box{"INFO", "Please load a DAT file!", core::BoxIcon::Information, false}));
    EXPECT_TRUE(lock.events.empty());
    EXPECT_TRUE(pane.lines.empty());
    EXPECT_EQ(pane.clears, 0);
}

TEST_F(KivaFixture, ApplicationNoteOpensTheDocumentNamedByExtName) {
    writer.unplug();  // no Writer needed
    fields.loadFile = (dir / "voice.dat").string();
    dir.write("voice.ini", std::string("[Info]\nExtName=.pdf\n"));
    EXPECT_TRUE(appNote());
    dir.write("voice.ini", std::string("[info]\r\nextname = pdf\r\n"));
    EXPECT_TRUE(appNote());
    EXPECT_EQ(opener.opened, (std::vector<std::string>{(dir / "voice.pdf").string(),
                                                       (dir / "voicepdf").string()}));
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_TRUE(lock.events.empty());
    EXPECT_TRUE(pane.lines.empty());
    EXPECT_TRUE(writer.commandCodes().empty());
}

TEST_F(KivaFixture, ApplicationNoteWithoutAUsableExtNameSaysThereIsNone) {
    fields.loadFile = (dir / "voice.dat").string();
    const test::Box none{"INFO", "This DAT file does not have application note!",
                         core::BoxIcon::Information, false};
    const std::string companions[] = {
        "",                                              // empty file
        "[Info]\nOther=.pdf\n",                          // no key
        "[Other]\nExtName=.pdf\n",                       // wrong section
        "[Info]\nExtName=\n",                            // empty value
        std::string("\x00\xff\x01[Info\x00\n\xfe", 10),  // binary
        "[Info]\nExtName=/../../etc/passwd\n",           // leaves the folder
        "[Info]\nExtName=.pdf/../../secret\n",
        "[Info]\nExtName=..pdf\n",
        "[Info]\nExtName=.p\\df\n",
    };
    for (const auto& text : companions) {
        prompter.boxes.clear();
        dir.write("voice.ini", text);
        EXPECT_FALSE(appNote()) << text;
        ASSERT_EQ(prompter.boxes.size(), 1u) << text;
        EXPECT_EQ(prompter.boxes[0], none) << text;
    }
    std::filesystem::remove(dir / "voice.ini");
    prompter.boxes.clear();
    EXPECT_FALSE(appNote());
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0], none);
    EXPECT_TRUE(opener.opened.empty());
    EXPECT_TRUE(lock.events.empty());
}

TEST(KivaPaths, ExtensionsAreThoseOfTheFileName) {
    EXPECT_EQ(kiva::replaceExtension("/a/voice.dat", ".ini"), "/a/voice.ini");
    EXPECT_EQ(kiva::replaceExtension("/a/voice.v2.dat", ".ini"), "/a/voice.v2.ini");
    EXPECT_EQ(kiva::replaceExtension("/a.b/voice", ".ini"), "/a.b/voice.ini");
    EXPECT_EQ(kiva::replaceExtension("voice", ".ini"), "voice.ini");
    EXPECT_EQ(kiva::replaceExtension("/a/voice.dat", "pdf"), "/a/voicepdf");
    EXPECT_TRUE(kiva::safeExtName(".pdf"));
    EXPECT_TRUE(kiva::safeExtName(".tar.gz"));
    EXPECT_FALSE(kiva::safeExtName("/x"));
    EXPECT_FALSE(kiva::safeExtName(".."));
    EXPECT_FALSE(kiva::safeExtName("a\\b"));
    EXPECT_EQ(kiva::conversionMessage(1), "Can not open this file!");
    EXPECT_EQ(kiva::conversionMessage(2), "Error IVR file!");
    EXPECT_EQ(kiva::conversionMessage(3), "Failed!");
    EXPECT_EQ(kiva::conversionMessage(-1), "Failed!");
}
