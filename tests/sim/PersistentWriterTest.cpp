#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/IniFile.h"
#include "sim/ChipFile.h"
#include "sim/ChipMemory.h"
#include "sim/PersistentWriter.h"
#include "sim/WriterSettings.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
using sim::WriterSettings;

namespace {

WriterSettings fromText(const std::string& text) {
    return sim::readWriterSettings(core::IniFile::fromText(text));
}

bool allBytes(const std::vector<std::uint8_t>& bytes, std::uint8_t value) {
    for (auto b : bytes)
        if (b != value) return false;
    return true;
}

}  // namespace

TEST(WriterSettings, EveryKeyRead) {
    auto s = fromText(
        "[Tarn20]\nBadPages=5, 0x1E480      ; pages that never take data\nDetectStatus=0x11\n"
        "[Series Flash]\nMID=0xEF\nDID=0x13\nSize=1048576\nDetectStatus=3\n"
        "[Kiva300]\nDetectStatus=0x10\n[Writer]\nFailFrom=12\n");
    EXPECT_EQ(s.tarnBadPages, (std::vector<std::uint32_t>{5, 0x1E480}));
    EXPECT_EQ(s.tarnDetectStatus, 0x11);
    EXPECT_EQ(s.serialFlashMid, 0xEF);
    EXPECT_EQ(s.serialFlashDid, 0x13);
    EXPECT_EQ(s.serialFlashSize, 1048576u);
    EXPECT_EQ(s.serialFlashDetectStatus, 3);
    EXPECT_EQ(s.kivaDetectStatus, 0x10);
    EXPECT_EQ(s.failFrom, 12u);
    EXPECT_TRUE(s.warnings.empty());
}

TEST(WriterSettings, AbsentKeysAreDefaults) {
    auto s = fromText("");
    EXPECT_TRUE(s.tarnBadPages.empty());
    EXPECT_FALSE(s.tarnDetectStatus);
    EXPECT_FALSE(s.serialFlashMid);
    EXPECT_FALSE(s.serialFlashDid);
    EXPECT_FALSE(s.serialFlashSize);
    EXPECT_FALSE(s.kivaDetectStatus);
    EXPECT_EQ(s.failFrom, 0u);
    EXPECT_TRUE(s.warnings.empty());
}

TEST(WriterSettings, GarbageIsPassedOverWithAWarning) {
    std::string text = "\xff\xfe";
    text.push_back('\0');
    text +=
        "junk\n[Tarn20]\nBadPages=7,,x, 0x20000, -1,9\nDetectStatus=256\n"
        "[Series Flash]\nMID=big\nSize=0\nDID=0x14\n[Writer]\nFailFrom=-3\n[Kiva300]\n"
        "DetectStatus\n";
    text += std::string(5000, 'z') + "\n";
    auto s = fromText(text);
    EXPECT_EQ(s.tarnBadPages, (std::vector<std::uint32_t>{7, 9}));
    EXPECT_FALSE(s.tarnDetectStatus);
    EXPECT_FALSE(s.serialFlashMid);
    EXPECT_EQ(s.serialFlashDid, 0x14);
    EXPECT_FALSE(s.serialFlashSize);
    EXPECT_EQ(s.failFrom, 0u);
    ASSERT_EQ(s.warnings.size(), 7u);
    EXPECT_EQ(s.warnings[0],
              "writer.ini: [Tarn20] BadPages: \"x\" is not a number from 0 to 131071; passed over");
    EXPECT_NE(s.warnings[3].find("DetectStatus: \"256\""), std::string::npos);
}

TEST(ChipFile, MissingFileIsMadeBlankAndInPlace) {
    test::TempDir dir;
    auto file = dir / "kiva300.bin";
    // A link planted at the name of the chip's temporary file is not followed.
    test::TempDir elsewhere;
    const auto victim = elsewhere.write("victim.txt", std::string("keep me"));
    std::filesystem::create_symlink(victim,
                                    dir / ("kiva300.bin.new-" + std::to_string(::getpid())));
    EXPECT_EQ(sim::ensureChipFile(file, 4096, "Kiva300"), std::nullopt);
    EXPECT_EQ(test::readText(victim), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(file));
    auto bytes = test::readFile(file);
    EXPECT_EQ(bytes.size(), 4096u);
    EXPECT_TRUE(allBytes(bytes, 0xFF));
    // Nothing else is left in the folder (no temporary file).
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
    // A file of the right size is kept as it is.
    dir.write("kiva300.bin", std::vector<std::uint8_t>(4096, 0x12));
    EXPECT_EQ(sim::ensureChipFile(file, 4096, "Kiva300"), std::nullopt);
    EXPECT_TRUE(allBytes(test::readFile(file), 0x12));
}

TEST(ChipFile, WrongSizeIsRefusedAndNeverResized) {
    test::TempDir dir;
    auto file = dir.write("tarn20.bin", std::vector<std::uint8_t>(1000, 0x55));
    auto error = sim::ensureChipFile(file, 134217728, "Tarn20");
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("holds 1000 bytes, but a Tarn20 chip file must hold 134217728 bytes"),
              std::string::npos);
    EXPECT_EQ(test::readFile(file), std::vector<std::uint8_t>(1000, 0x55));

    std::filesystem::create_directory(dir / "serialflash.bin");
    auto dirError = sim::ensureChipFile(dir / "serialflash.bin", 16, "serial flash");
    ASSERT_TRUE(dirError);
    EXPECT_NE(dirError->find("is not a file"), std::string::npos);
}

TEST(ChipMemory, FileBackedKeepsFlashRulesAndLandsInTheFile) {
    test::TempDir dir;
    auto file = dir / "chip.bin";
    ASSERT_EQ(sim::ensureChipFile(file, 8192, "test"), std::nullopt);
    {
        sim::ChipMemory memory(8192);
        std::uint8_t old[2] = {0x00, 0x00};
        memory.write(0, old, 2);  // dropped with the anonymous memory
        std::string error;
        ASSERT_TRUE(memory.attachFile(file, error)) << error;
        EXPECT_TRUE(memory.fileBacked());
        EXPECT_EQ(memory.read(0), 0xFF);
        std::uint8_t data[3] = {0xF0, 0x0F, 0xAA};
        memory.program(100, data, 3);
        std::uint8_t again[3] = {0x3C, 0xFF, 0x55};
        memory.program(100, again, 3);  // bits only go from 1 to 0
        std::uint8_t back[3];
        memory.read(100, back, 3);
        EXPECT_EQ(back[0], 0x30);
        EXPECT_EQ(back[1], 0x0F);
        EXPECT_EQ(back[2], 0x00);
        std::uint8_t raw[1] = {0x77};
        memory.write(8191, raw, 1);
    }
    auto bytes = test::readFile(file);
    ASSERT_EQ(bytes.size(), 8192u);
    EXPECT_EQ(bytes[100], 0x30);
    EXPECT_EQ(bytes[101], 0x0F);
    EXPECT_EQ(bytes[102], 0x00);
    EXPECT_EQ(bytes[8191], 0x77);
    EXPECT_EQ(bytes[0], 0xFF);

    sim::ChipMemory memory(8192);
    std::string error;
    ASSERT_TRUE(memory.attachFile(file, error));
    EXPECT_EQ(memory.read(8191), 0x77);  // a later run sees the same chip
    memory.erase();
    EXPECT_TRUE(allBytes(test::readFile(file), 0xFF));
}

TEST(ChipMemory, AttachRefusesAFileOfAnotherSize) {
    test::TempDir dir;
    auto file = dir.write("chip.bin", std::vector<std::uint8_t>(100, 0));
    sim::ChipMemory memory(4096);
    std::string error;
    EXPECT_FALSE(memory.attachFile(file, error));
    EXPECT_NE(error.find("holds 100 bytes, but the chip has 4096 bytes"), std::string::npos);
    EXPECT_FALSE(memory.fileBacked());
    EXPECT_EQ(memory.read(0), 0xFF);
    EXPECT_FALSE(memory.attachFile(dir / "missing.bin", error));
    EXPECT_EQ(test::readFile(file).size(), 100u);
}

TEST(PersistentWriter, MakesItsFolderAndPullsTheCableAtFailFrom) {
    test::TempDir dir;
    auto folder = dir / "a" / "b";
    dir.write("a/b/writer.ini", std::string("[Writer]\nFailFrom=3\n"));
    auto opened = sim::openPersistentWriter(folder, 0);
    ASSERT_TRUE(opened.writer) << opened.error;
    EXPECT_TRUE(opened.warnings.empty());
    auto& w = *opened.writer;
    ASSERT_TRUE(w.open());
    std::uint8_t packet[64] = {0x7E};
    EXPECT_FALSE(w.transfer(link::Endpoint::CommandOut, packet, 64));  // transfer 1
    EXPECT_FALSE(w.transfer(link::Endpoint::ReplyIn, packet, 64));
    EXPECT_FALSE(w.transfer(link::Endpoint::CommandOut, packet, 64));  // transfer 2
    EXPECT_FALSE(w.transfer(link::Endpoint::ReplyIn, packet, 64));
    EXPECT_TRUE(w.transfer(link::Endpoint::CommandOut, packet, 64));  // transfer 3 fails
}

TEST(PersistentWriter, UnreadableSettingsAndUnusableFolders) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "w" / "writer.ini");
    auto opened = sim::openPersistentWriter(dir / "w", 0);
    ASSERT_TRUE(opened.writer);
    ASSERT_EQ(opened.warnings.size(), 1u);
    EXPECT_NE(opened.warnings[0].find("cannot be read; using the defaults"), std::string::npos);

    dir.write("plain", std::string("x"));
    auto notDir = sim::openPersistentWriter(dir / "plain", 0);
    EXPECT_FALSE(notDir.writer);
    EXPECT_NE(notDir.error.find("cannot be used as the virtual Writer's folder"),
              std::string::npos);
}

TEST(PersistentWriter, MakesOnlyTheChipFilesItIsAskedFor) {
    test::TempDir dir;
    dir.write("w/writer.ini", std::string("[Series Flash]\nMID=0xEF\nSize=0x2000\n"));
    auto opened = sim::openPersistentWriter(dir / "w", sim::kSerialFlashFile | sim::kKiva300File);
    ASSERT_TRUE(opened.writer) << opened.error;
    ASSERT_EQ(opened.warnings.size(), 1u);
    EXPECT_EQ(opened.warnings[0],
              "writer.ini: [Series Flash] MID and DID go together; the chip answers to any ids");
    EXPECT_EQ(std::filesystem::file_size(dir / "w" / "serialflash.bin"), 0x2000u);
    EXPECT_EQ(std::filesystem::file_size(dir / "w" / "kiva300.bin"), 4096u);
    EXPECT_FALSE(std::filesystem::exists(dir / "w" / "tarn20.bin"));
    EXPECT_TRUE(allBytes(test::readFile(dir / "w" / "kiva300.bin"), 0xFF));
}
