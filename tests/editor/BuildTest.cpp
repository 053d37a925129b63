#include <gtest/gtest.h>

#include <filesystem>

#include "core/NumberText.h"
#include "editor/WaveFile.h"
#include "tests/editor/EditorFixture.h"

namespace sonoprog::test {
namespace {

using editor::BuildResult;
using editor::kColFile;
using editor::kColRate;
using editor::kColSize;
using editor::kColStatus;
using editor::SummaryField;
using Bytes = std::vector<std::uint8_t>;

const Bytes kUnusedEntry = {0x00, 0xFF, 0, 0, 0, 0, 0, 0, 0x00, 0xFF, 0, 0, 0, 0, 0, 0};

Bytes entry(const Bytes& image, int n) {
    return Bytes(image.begin() + 1024 + 16 * n, image.begin() + 1024 + 16 * n + 16);
}

Bytes twice(Bytes eight) {
    Bytes out = eight;
    out.insert(out.end(), eight.begin(), eight.end());
    return out;
}

using BuildTest = EditorFixture;

TEST_F(BuildTest, TwentyOnePageImageByteForByte) {
    auto s0 = rampSamples(1500, 1);
    auto s2 = rampSamples(2048, 2);
    WaveShape r16;
    r16.rate = 16000;
    auto a = dir.write("a.wav", waveBytes(s0)).string();
    auto b = dir.write("b.wav", waveBytes(s2, r16)).string();
    addAt(0, {a});
    addAt(2, {b});
    EXPECT_EQ(panel.summary(SummaryField::MemUsg), "21504");
    EXPECT_EQ(panel.summary(SummaryField::LstSec), "2");
    ASSERT_EQ(build("out.bin"), BuildResult::Done);

    Bytes image = readFile(dir / "out.bin");
    ASSERT_EQ(image.size(), 21504u);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 4), (Bytes{0xFD, 0xFF, 0x03, 0x00}));
    for (std::size_t i = 4; i < 1024; ++i) ASSERT_EQ(image[i], 0xFF) << i;
    EXPECT_EQ(entry(image, 0), twice({0xFF, 0x7D, 0x11, 0, 0, 0x13, 0, 0}));
    EXPECT_EQ(entry(image, 1), kUnusedEntry);
    EXPECT_EQ(entry(image, 2), twice({0xFF, 0x3F, 0x13, 0, 0, 0x15, 0, 0}));
    for (int n = 3; n < 1024; ++n) ASSERT_EQ(entry(image, n), kUnusedEntry) << n;
    EXPECT_TRUE(std::equal(s0.begin(), s0.end(), image.begin() + 17 * 1024));
    for (std::size_t i = 17 * 1024 + 1500; i < 19 * 1024; ++i) ASSERT_EQ(image[i], 0x80) << i;
    EXPECT_TRUE(std::equal(s2.begin(), s2.end(), image.begin() + 19 * 1024));

    EXPECT_EQ(prompter.boxes.back(),
              (Box{"INFO", "Finish to make BIN file!", core::BoxIcon::Information}));
    EXPECT_EQ(panel.hint(), "Done!");
    EXPECT_EQ(files.requests.back().filter, "BIN file|*.bin");
    EXPECT_EQ(files.requests.back().defaultExtension, "bin");
    // The page file was the build's own and is gone with it.
    EXPECT_TRUE(std::filesystem::is_empty(dir / "Temp"));
    auto building = std::find(panel.hints.begin(), panel.hints.end(), "Building file: " + a);
    EXPECT_NE(building, panel.hints.end());
    EXPECT_NE(std::find(panel.hints.begin(), panel.hints.end(), "Building file: "),
              panel.hints.end());
    EXPECT_NE(std::find(panel.hints.begin(), panel.hints.end(), "Making File... "),
              panel.hints.end());
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(BuildTest, EmptyTableHeadersForMinusOneAndZero) {
    ASSERT_EQ(build("zero.bin"), BuildResult::Done);  // the field still shows its initial "0"
    Bytes zero = readFile(dir / "zero.bin");
    ASSERT_EQ(zero.size(), 17408u);
    EXPECT_EQ(Bytes(zero.begin(), zero.begin() + 4), (Bytes{0xFF, 0xFF, 0x01, 0x00}));

    panel.setSummary(SummaryField::LstSec, "-1");
    ASSERT_EQ(build("minus.bin"), BuildResult::Done);
    Bytes minus = readFile(dir / "minus.bin");
    ASSERT_EQ(minus.size(), 17408u);
    EXPECT_EQ(Bytes(minus.begin(), minus.begin() + 4), (Bytes{0, 0, 0, 0}));
    for (int n = 0; n < 1024; ++n) ASSERT_EQ(entry(minus, n), kUnusedEntry) << n;

    std::uint8_t words[4];
    editor::headerWords(3, words);
    EXPECT_EQ(Bytes(words, words + 4), (Bytes{0xFC, 0xFF, 0x04, 0x00}));
    editor::headerWords(core::fieldInt("abc"), words);
    EXPECT_EQ(Bytes(words, words + 4), (Bytes{0xFF, 0xFF, 0x01, 0x00}));
}

TEST_F(BuildTest, ZeroByteSectionTakesNoPage) {
    addAt(0, {wave("empty.wav", 0)});
    addAt(1, {wave("one.wav", 1)});
    EXPECT_EQ(panel.summary(SummaryField::MemUsg), "18432");
    ASSERT_EQ(build("out.bin"), BuildResult::Done);
    Bytes image = readFile(dir / "out.bin");
    ASSERT_EQ(image.size(), 18432u);
    EXPECT_EQ(entry(image, 0), twice({0xFF, 0x7D, 0x11, 0, 0, 0x11, 0, 0}));
    EXPECT_EQ(entry(image, 1), twice({0xFF, 0x7D, 0x11, 0, 0, 0x12, 0, 0}));
}

TEST_F(BuildTest, DataShorterThanItsSizeIsPaddedWithMidLevel) {
    WaveShape shape;
    shape.declaredSize = 3000;
    auto p = dir.write("short.wav", waveBytes(rampSamples(100), shape)).string();
    addAt(0, {p});
    EXPECT_EQ(table.cell(1, kColSize), "3000");
    ASSERT_EQ(build("out.bin"), BuildResult::Done);
    Bytes image = readFile(dir / "out.bin");
    ASSERT_EQ(image.size(), 17408u + 3 * 1024);
    auto s = rampSamples(100);
    EXPECT_TRUE(std::equal(s.begin(), s.end(), image.begin() + 17408));
    for (std::size_t i = 17408 + 100; i < image.size(); ++i) ASSERT_EQ(image[i], 0x80);
}

TEST_F(BuildTest, ChangedResampledAndDeletedFilesTurnRed) {
    auto changed = wave("changed.wav", 500);
    auto resampled = wave("resampled.wav", 500);
    auto deleted = wave("deleted.wav", 500);
    auto good = wave("good.wav", 500);
    auto notWave = wave("broken.wav", 500);
    addAt(0, {changed, resampled, deleted, good, notWave});
    table.setCell(4, kColStatus, "The wave rate is different from before!");
    table.setCell(9, kColStatus, "old mark on an empty row");
    wave("changed.wav", 600);
    wave("resampled.wav", 500, 16000);
    std::filesystem::remove(deleted);
    dir.write("broken.wav", std::string("not a wave at all"));
    auto earlier = dir.write("out.bin", std::string("earlier image"));

    prompter.answers = {true};
    EXPECT_EQ(build("out.bin"), BuildResult::SectionsFailed);
    EXPECT_EQ(table.cell(1, kColStatus), "The wave size is different from before!");
    EXPECT_EQ(table.cell(2, kColStatus), "The wave rate is different from before!");
    EXPECT_EQ(table.cell(3, kColStatus), "Can not open this file or file is not exist!");
    EXPECT_EQ(table.cell(4, kColStatus), "");
    EXPECT_EQ(table.cell(5, kColStatus), "This file is not a 8-bit mono wave file!");
    EXPECT_EQ(table.cell(9, kColStatus), "");
    // One box after the last row, besides the replace question.
    ASSERT_EQ(prompter.boxes.size(), 2u);
    EXPECT_EQ(prompter.boxes[1],
              (Box{"ERROR", "Failed to make BIN file! Please check the section witch color is red!",
                   core::BoxIcon::Error}));
    EXPECT_EQ(readText(earlier), "earlier image");
    EXPECT_EQ(editor::markedSections(table).size(), 4u);
}

TEST_F(BuildTest, TwoFailingSectionsOneBoxAndNoImage) {
    addAt(0, {wave("a.wav", 10), wave("b.wav", 10), wave("c.wav", 10)});
    table.setCell(1, kColSize, "11");
    table.setCell(3, kColRate, "8001");
    EXPECT_EQ(build("new.bin"), BuildResult::SectionsFailed);
    EXPECT_EQ(prompter.boxes.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir / "new.bin"));
    EXPECT_EQ(table.cell(1, kColStatus), "The wave size is different from before!");
    EXPECT_EQ(table.cell(2, kColStatus), "");
    EXPECT_EQ(table.cell(3, kColStatus), "The wave rate is different from before!");
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::Build));
}

TEST_F(BuildTest, ProjectRateThatIsNotANumberGivesTheRateMismatch) {
    auto x = wave("x.wav", 12);
    files.openAnswers.push_back(dir.write("p.log", "abc>12>" + x + ">\r\n").string());
    ASSERT_EQ(ops.loadProject(), editor::ProjectResult::Done);
    EXPECT_EQ(build("out.bin"), BuildResult::SectionsFailed);
    EXPECT_EQ(table.cell(1, kColStatus), "The wave rate is different from before!");
}

TEST_F(BuildTest, RatesWhosePeriodDoesNotFitAreOutOfRange) {
    WaveShape zero;
    zero.rate = 0;
    WaveShape low;
    low.rate = 3913;
    WaveShape lowest;
    lowest.rate = 3914;
    auto a = dir.write("zero.wav", waveBytes(rampSamples(10), zero)).string();
    auto b = dir.write("low.wav", waveBytes(rampSamples(10), low)).string();
    auto c = dir.write("ok.wav", waveBytes(rampSamples(10), lowest)).string();
    addAt(0, {a, b, c});
    EXPECT_EQ(build("out.bin"), BuildResult::SectionsFailed);
    EXPECT_EQ(table.cell(1, kColStatus), "The wave rate is out of range!");
    EXPECT_EQ(table.cell(2, kColStatus), "The wave rate is out of range!");
    EXPECT_EQ(table.cell(3, kColStatus), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));

    ops.selectRow(1);
    ops.removeSection();
    ops.selectRow(2);
    ops.removeSection();
    ASSERT_EQ(build("out.bin"), BuildResult::Done);
    Bytes image = readFile(dir / "out.bin");
    EXPECT_EQ(entry(image, 2), twice({0xFF, 0xFF, 0x11, 0, 0, 0x12, 0, 0}));
}

TEST_F(BuildTest, RefusedReplaceLeavesTheFileAndSkipsTheBuild) {
    addAt(0, {wave("a.wav", 10)});
    auto earlier = dir.write("out.bin", std::string("keep me"));
    prompter.answers = {false};
    EXPECT_EQ(build("out.bin"), BuildResult::Refused);
    EXPECT_EQ(readText(earlier), "keep me");
    EXPECT_EQ(prompter.boxes.back().text,
              "File: " + earlier.string() + " already exist, Do you want to replace it?");
    EXPECT_FALSE(std::filesystem::exists(dir / "Temp" / "temp.bin"));
    EXPECT_EQ(ops.makeDatFile(), BuildResult::Cancelled);
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::Save));
}

TEST_F(BuildTest, FullDiskWhileWritingTheImageKeepsTheEarlierFile) {
    addAt(0, {wave("a.wav", 2048)});
    auto earlier = dir.write("out.bin", std::string("earlier image"));
    {
        FileSizeLimit limit(10000);  // the page file fits, the image does not
        EXPECT_EQ(build("out.bin"), BuildResult::ImageFailed);
    }
    EXPECT_EQ(prompter.boxes.back(),
              (Box{"ERROR", "Failed to create file: " + earlier.string(), core::BoxIcon::Error}));
    EXPECT_EQ(readText(earlier), "earlier image");
    EXPECT_TRUE(leftovers().empty());
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::PageControl));
}

TEST_F(BuildTest, FullDiskWhileWritingThePageFileStopsTheBuild) {
    addAt(0, {wave("a.wav", 20000)});
    {
        FileSizeLimit limit(4096);
        EXPECT_EQ(build("out.bin"), BuildResult::TempFileFailed);
    }
    EXPECT_EQ(prompter.boxes.back(),
              (Box{"ERROR", "Failed to create temp file!", core::BoxIcon::Error}));
    EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
}

TEST_F(BuildTest, MissingTempFolderIsReported) {
    std::filesystem::remove_all(dir / "Temp");
    EXPECT_EQ(build("out.bin"), BuildResult::TempFileFailed);
    EXPECT_EQ(prompter.boxes.back(),
              (Box{"ERROR", "Failed to create temp file!", core::BoxIcon::Error}));
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::Add));
}

TEST_F(BuildTest, ImageIntoAFolderThatTakesNoFile) {
    auto path = (dir / "nowhere" / "out.bin").string();
    files.saveAnswers.push_back(path);
    EXPECT_EQ(ops.makeDatFile(), BuildResult::ImageFailed);
    EXPECT_EQ(prompter.boxes.back().text, "Failed to create file: " + path);
}

}  // namespace
}  // namespace sonoprog::test
