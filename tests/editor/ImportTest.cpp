#include <gtest/gtest.h>

#include <filesystem>

#include "editor/AudioImport.h"
#include "editor/EditorOperations.h"
#include "editor/WaveFile.h"
#include "tests/editor/EditorFixture.h"
#include "tests/support/AudioFiles.h"

namespace sonoprog::test {
namespace {

using editor::AddResult;
using editor::ImportSettings;
using editor::kColFile;
using editor::kColRate;
using editor::kColSize;
using editor::kColStatus;
using editor::SummaryField;

class ImportTest : public EditorFixture {
protected:
    std::string song(const std::string& name, double seconds = 0.25, int rate = 44100) {
        auto path = dir / name;
        writeSource(path, {wav16(), rate, 2, seconds, sine(440, -6)});
        return path.string();
    }
    ImportSettings settings(std::uint32_t rate = 8000) {
        ImportSettings s;
        s.rate = rate;
        s.outDir = (dir / "out").string();
        return s;
    }
    AddResult importAt(int section, const std::vector<std::string>& chosen,
                       const ImportSettings& s) {
        ops.selectRow(section + 1);
        return ops.importFiles(chosen, s);
    }
    std::string out(const std::string& name) { return (dir / "out" / name).string(); }
};

class ScriptedImportDialog final : public editor::ImportDialog {
public:
    std::optional<ImportSettings> askImportSettings(const editor::ImportOffer& o) override {
        offers.push_back(o);
        return answer;
    }
    std::optional<ImportSettings> answer;
    std::vector<editor::ImportOffer> offers;
};

TEST(ImportRates, OnlyRatesWithAValidPeriodAreOfferedAndTheProjectsHighestLeads) {
    EXPECT_EQ(editor::offeredRates(0),
              (std::vector<std::uint32_t>{4000, 6000, 8000, 11025, 12000, 16000, 22050}));
    EXPECT_EQ(editor::offeredRates(9600),
              (std::vector<std::uint32_t>{4000, 6000, 8000, 9600, 11025, 12000, 16000, 22050}));
    // Below 3,914 Hz the period does not fit its byte: not offered, not the default.
    EXPECT_EQ(editor::offeredRates(3000).size(), 7u);
    EXPECT_EQ(editor::defaultImportRate(0), 8000u);
    EXPECT_EQ(editor::defaultImportRate(3000), 8000u);
    EXPECT_EQ(editor::defaultImportRate(16000), 16000u);
}

TEST(ImportTargets, ConvertedFilesNeverGoOverASource) {
    EXPECT_EQ(editor::convertedFolder("/p/q/demo.log"), std::filesystem::path("/p/q/converted"));
    EXPECT_TRUE(editor::convertedFolder("").empty());
    EXPECT_EQ(editor::convertedTarget("/a/hello.mp3", "/p/converted", {"/a/hello.mp3"}),
              std::filesystem::path("/p/converted/hello.wav"));
    // A WAV converted into its own folder, or beside a source of the same name.
    EXPECT_EQ(editor::convertedTarget("/a/hello.wav", "/a", {"/a/hello.wav"}),
              std::filesystem::path("/a/hello-8bit.wav"));
    EXPECT_EQ(editor::convertedTarget("/b/x.flac", "/a", {"/b/x.flac", "/a/x.wav"}),
              std::filesystem::path("/a/x-8bit.wav"));
}

TEST(ImportTargets, NamesMadeByOneImportNeverCollide) {
    EXPECT_EQ(
        editor::convertedTargets({"/a/hello.wav", "/b/hello.flac", "/c/hello.mp3"}, "/p"),
        (std::vector<std::filesystem::path>{"/p/hello.wav", "/p/hello-2.wav", "/p/hello-3.wav"}));
    // A name of a source is passed over as well.
    EXPECT_EQ(
        editor::convertedTargets({"/p/hello.wav", "/b/hello.flac", "/p/hello-8bit-2.wav"}, "/p"),
        (std::vector<std::filesystem::path>{"/p/hello-8bit.wav", "/p/hello-8bit-3.wav",
                                            "/p/hello-8bit-2-8bit.wav"}));
    EXPECT_EQ(editor::sectionBytesOnChip(editor::kTarnUserAreaBytes), 126991360u);
    EXPECT_EQ(editor::sectionBytesOnChip(1000), 0u);
}

TEST_F(ImportTest, SourcesOfOneNameKeepTheirOwnSoundsAndOnlyEarlierFilesAreAskedAbout) {
    std::filesystem::create_directories(dir / "a");
    std::filesystem::create_directories(dir / "b");
    auto first = song("a/hello.wav", 0.25);
    auto second = song("b/hello.wav", 0.5);
    EXPECT_EQ(importAt(0, {first, second}, settings()), AddResult::Placed);
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(table.cell(1, kColFile), out("hello.wav"));
    EXPECT_EQ(table.cell(2, kColFile), out("hello-2.wav"));
    EXPECT_NEAR(editor::CheckWaveHeader(out("hello.wav")).size, 2000, 2);
    EXPECT_NEAR(editor::CheckWaveHeader(out("hello-2.wav")).size, 4000, 2);

    // Again: both names are there from before, so both are asked about.
    prompter.answers = {true, true};
    EXPECT_EQ(importAt(2, {first, second}, settings()), AddResult::Placed);
    EXPECT_EQ(prompter.boxes.size(), 2u);
}

// The project holds one section per line: a path that would break its line
// is refused on Add and on Import, and nothing is placed.
TEST_F(ImportTest, PathsThatWouldBreakAProjectLineAreRefused) {
    auto plain = wave("plain.wav", 100);
    auto broken = wave("evil\n8000>100>forged.wav>.wav", 100);
    auto tabbed = wave("tab\tname.wav", 100);
    const struct {
        bool import;
        std::string file;
    } cases[] = {{false, broken}, {false, tabbed}, {true, broken}, {true, tabbed}};
    for (const auto& c : cases) {
        prompter.boxes.clear();
        const AddResult r =
            c.import ? importAt(0, {c.file, plain}, settings()) : addAt(0, {c.file, plain});
        EXPECT_EQ(r, AddResult::Failed) << c.file;
        ASSERT_EQ(prompter.boxes.size(), 1u) << prompter.boxes.back().text;
        EXPECT_EQ(prompter.boxes[0].text.rfind("A project holds one section per line; this path "
                                               "holds a line break or another control character: ",
                                               0),
                  0u)
            << prompter.boxes[0].text;
        EXPECT_EQ(prompter.boxes[0].text.find('\n'), std::string::npos);
        EXPECT_FALSE(table.isUsed(1));
    }
}

TEST_F(ImportTest, ASoundLargerThanTheLargestChipIsRefusedBeforeItIsWritten) {
    auto a = song("a.wav", 2.0);
    ops.setLargestChip(17408 + 8192);  // one second at 8,000 Hz, in whole pages
    EXPECT_EQ(importAt(0, {a}, settings()), AddResult::Failed);
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text,
              "Failed to import audio file: " + a +
                  " (The sound lasts 2.0 s at 8000 Hz: 1 s fit the largest chip this "
                  "installation programs (8192 bytes of sound).)");
    // Neither the sound nor a temporary file of it.
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
}

TEST_F(ImportTest, ConvertedFilesArePlacedLikeAddFromTheCurrentRow) {
    auto a = song("a.wav"), b = (dir / "b.flac").string();
    writeSource(b, {flac16(), 48000, 1, 0.5, sine(300, -3)});
    ASSERT_EQ(addAt(7, {wave("old.wav", 100)}), AddResult::Placed);
    table.setCell(8, kColStatus, "The wave size is different from before!");

    EXPECT_EQ(importAt(7, {a, b}, settings(11025)), AddResult::Placed);
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(table.cell(8, kColFile), out("a.wav"));
    EXPECT_EQ(table.cell(9, kColFile), out("b.wav"));
    EXPECT_EQ(table.cell(8, kColRate), "11025");
    EXPECT_EQ(table.cell(8, kColStatus), "");  // replaced row: its mark goes
    // The cells hold what the converted files' headers say.
    auto check = editor::CheckWaveHeader(out("b.wav"));
    EXPECT_EQ(check.code, 0);
    EXPECT_EQ(table.cell(9, kColSize), std::to_string(check.size));
    EXPECT_NEAR(check.size, 11025 / 2, 1);
    // As after Add: the selection stays on the first row filled, its buttons on,
    // the summary refreshed.
    EXPECT_EQ(table.currentRow(), 8);
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::Remove));
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::Up));
    EXPECT_EQ(panel.summary(SummaryField::LstSec), "8");
    EXPECT_EQ(panel.summary(SummaryField::HstRate), "11025");
    EXPECT_EQ(panel.summary(SummaryField::MemUsg), std::to_string(editor::imageSize(table)));
    // The converted files pass the build.
    EXPECT_EQ(build("img.bin"), editor::BuildResult::Done);
}

TEST_F(ImportTest, AnUnreadableFileStopsTheImportWithItsReasonAndTheEarlierFilesStay) {
    auto a = song("a.wav");
    auto bad = dir.write("bad.mp3", std::string("not a sound at all")).string();
    auto c = song("c.wav");
    const std::string usageBefore = panel.summary(SummaryField::MemUsg);

    EXPECT_EQ(importAt(0, {a, bad, c}, settings()), AddResult::Failed);
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].caption, "ERROR");
    const std::string& text = prompter.boxes[0].text;
    EXPECT_EQ(text.rfind("Failed to import audio file: " + bad + " (", 0), 0u) << text;
    EXPECT_GT(text.size(), ("Failed to import audio file: " + bad + " ()").size());
    EXPECT_EQ(table.cell(1, kColFile), out("a.wav"));
    EXPECT_EQ(table.cell(2, kColFile), "");
    EXPECT_EQ(table.cell(3, kColFile), "");
    EXPECT_FALSE(std::filesystem::exists(out("c.wav")));
    // As with Add: no summary refresh after a refusal; the page ends unlocked.
    EXPECT_EQ(panel.summary(SummaryField::MemUsg), usageBefore);
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::Add));
}

TEST_F(ImportTest, AnExistingConvertedFileIsReplacedOnlyWhenTheOperatorSaysYes) {
    auto a = song("a.wav");
    std::filesystem::create_directories(dir / "out");
    dir.write("out/a.wav", std::string("earlier"));
    prompter.answers.push_back(false);
    EXPECT_EQ(importAt(0, {a}, settings()), AddResult::Failed);
    EXPECT_EQ(readText(out("a.wav")), "earlier");
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_TRUE(prompter.boxes[0].question);
    EXPECT_EQ(prompter.boxes[0].text,
              "File: " + out("a.wav") + " already exist, Do you want to replace it?");
    EXPECT_EQ(table.cell(1, kColFile), "");

    prompter.answers.push_back(true);
    EXPECT_EQ(importAt(0, {a}, settings()), AddResult::Placed);
    EXPECT_EQ(editor::CheckWaveHeader(out("a.wav")).code, 0);
}

TEST_F(ImportTest, TheConvertedFolderSitsBesideTheSavedProject) {
    auto a = (dir / "a.ogg").string();
    writeSource(a, {oggVorbis(), 22050, 1, 0.3, sine(500, -3)});
    ImportSettings s = settings();
    s.outDir.clear();
    // Never saved: there is no folder to put them in.
    EXPECT_EQ(importAt(0, {a}, s), AddResult::Failed);
    EXPECT_EQ(prompter.boxes.back().text, "Choose a folder for the converted files!");

    files.saveAnswers.push_back((dir / "p" / "proj.log").string());
    std::filesystem::create_directories(dir / "p");
    ASSERT_EQ(ops.saveProject(), editor::ProjectResult::Done);
    EXPECT_EQ(ops.importOffer().outDir, (dir / "p" / "converted").string());
    EXPECT_EQ(importAt(0, {a}, s), AddResult::Placed);
    EXPECT_EQ(table.cell(1, kColFile), (dir / "p" / "converted" / "a.wav").string());
}

TEST_F(ImportTest, TheDialogStartsFromTheProjectsHighestRateAndCancelChangesNothing) {
    ScriptedImportDialog dialog;
    ops.setImportDialog(&dialog);
    ASSERT_EQ(addAt(0, {wave("w.wav", 100, 16000)}), AddResult::Placed);
    auto a = song("a.wav");
    files.multiAnswers.push_back({a});
    EXPECT_EQ(ops.importAudio(), AddResult::Cancelled);  // dialog cancelled
    ASSERT_EQ(dialog.offers.size(), 1u);
    EXPECT_EQ(dialog.offers[0].defaultRate, 16000u);
    EXPECT_EQ(files.requests.back().filter, editor::kImportFilter);
    EXPECT_EQ(table.cell(2, kColFile), "");

    dialog.answer = settings(22050);
    ops.selectRow(2);
    files.multiAnswers.push_back({a});
    EXPECT_EQ(ops.importAudio(), AddResult::Placed);
    EXPECT_EQ(table.cell(2, kColRate), "22050");
    EXPECT_EQ(panel.summary(SummaryField::HstRate), "22050");
}

TEST_F(ImportTest, ARateWithoutAValidPeriodIsRefused) {
    EXPECT_EQ(importAt(0, {song("a.wav")}, settings(3000)), AddResult::Failed);
    EXPECT_EQ(prompter.boxes.back().text, "The rate 3000 Hz gives no valid sample period!");
    EXPECT_FALSE(std::filesystem::exists(out("a.wav")));
}

TEST_F(ImportTest, AfterAddRefusesAFileTheHintPointsToImport) {
    auto stereo = song("stereo.wav");
    EXPECT_EQ(addAt(0, {stereo}), AddResult::Failed);
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text, stereo + "is not a 8-bit mono wave file!");
    EXPECT_EQ(panel.hint(), editor::kImportHint);
    // A file that does not open is not one Import would convert either.
    EXPECT_EQ(addAt(0, {(dir / "gone.wav").string()}), AddResult::Failed);
    EXPECT_EQ(panel.hint(), "Double click to add or replace wave file.");
}

TEST_F(ImportTest, RefreshTakesNewRatesAndSizesAndReportsWhatStillFails) {
    ASSERT_EQ(addAt(0, {wave("a.wav", 1500), wave("b.wav", 100), wave("c.wav", 10)}),
              AddResult::Placed);
    wave("a.wav", 3000, 16000);  // recorded anew
    std::filesystem::remove(dir / "c.wav");
    ASSERT_EQ(build("x.bin"), editor::BuildResult::SectionsFailed);
    EXPECT_EQ(table.cell(1, kColStatus), "The wave rate is different from before!");

    auto changes = ops.refreshSections();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].section, 0);
    EXPECT_EQ(changes[0].oldSize, "1500");
    EXPECT_EQ(changes[0].newSize, "3000");
    EXPECT_EQ(changes[0].newRate, "16000");
    EXPECT_EQ(changes[1].section, 2);
    EXPECT_EQ(changes[1].problem, "Can not open this file or file is not exist!");
    EXPECT_EQ(table.cell(1, kColRate), "16000");
    EXPECT_EQ(table.cell(1, kColStatus), "");
    EXPECT_EQ(table.cell(3, kColSize), "10");  // a failing file keeps its cells
    EXPECT_EQ(panel.summary(SummaryField::HstRate), "16000");

    auto reports = editor::sectionReports(table);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].pages, 3u);
    EXPECT_EQ(reports[0].problem, "");
    EXPECT_EQ(reports[2].problem, "Can not open this file or file is not exist!");
    ops.selectRow(3);
    ops.removeSection();
    EXPECT_EQ(build("x.bin"), editor::BuildResult::Done);
}

}  // namespace
}  // namespace sonoprog::test
