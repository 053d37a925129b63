#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "editor/WaveFile.h"
#include "tests/editor/EditorFixture.h"
#include "tests/support/SpecialFiles.h"

namespace sonoprog::test {
namespace {

namespace fs = std::filesystem;
using editor::BuildResult;
using editor::kColStatus;
using Bytes = std::vector<std::uint8_t>;

using BuildSafetyTest = EditorFixture;

// Runs a whole second build into the same Temp folder the first time the
// first build lets the window breathe, as a second program would.
class SecondBuildOnYield final : public core::YieldHook {
public:
    std::function<void()> second;
    void yield() override {
        if (!second) return;
        auto run = std::move(second);
        second = nullptr;
        run();
    }
};

TEST_F(BuildSafetyTest, TwoBuildsIntoOneTempFolderKeepTheirOwnPages) {
    // The second image is the longer one, so a shared page file would hand
    // its tail to the first.
    auto a = wave("a.wav", 1500, 8000, 1);
    auto b = wave("b.wav", 6000, 8000, 2);
    addAt(0, {a});
    ASSERT_EQ(build("alone-a.bin"), BuildResult::Done);

    editor::SectionTable otherTable;
    otherTable.prepare();
    editor::PanelState otherPanel;
    RecordingPrompter otherPrompter;
    ScriptedFileChooser otherFiles;
    CountingYield otherYield;
    editor::EditorOperations other(otherTable, otherPanel, otherPrompter, otherFiles, otherYield,
                                   clock, paths);
    otherFiles.multiAnswers.push_back({b});
    other.selectRow(1);
    ASSERT_EQ(other.addReplace(), editor::AddResult::Placed);
    otherFiles.saveAnswers.push_back((dir / "alone-b.bin").string());
    ASSERT_EQ(other.makeDatFile(), BuildResult::Done);

    SecondBuildOnYield interleave;
    editor::EditorOperations first(table, panel, prompter, files, interleave, clock, paths);
    BuildResult secondResult = BuildResult::Cancelled;
    interleave.second = [&] {
        otherFiles.saveAnswers.push_back((dir / "b.bin").string());
        secondResult = other.makeDatFile();
    };
    files.saveAnswers.push_back((dir / "a.bin").string());
    ASSERT_EQ(first.makeDatFile(), BuildResult::Done);
    ASSERT_EQ(secondResult, BuildResult::Done);

    EXPECT_EQ(readFile(dir / "a.bin"), readFile(dir / "alone-a.bin"));
    EXPECT_EQ(readFile(dir / "b.bin"), readFile(dir / "alone-b.bin"));
    EXPECT_TRUE(fs::is_empty(dir / "Temp"));
}

TEST_F(BuildSafetyTest, APlantedLinkInTempIsNeverFollowed) {
    auto victim = dir.write("victim.txt", std::string("not the build's"));
    fs::create_symlink(victim, dir / "Temp" / "temp.bin");
    addAt(0, {wave("a.wav", 3000)});
    ASSERT_EQ(build("out.bin"), BuildResult::Done);
    EXPECT_EQ(readText(victim), "not the build's");
    EXPECT_EQ(fs::file_size(dir / "out.bin"), 17u * 1024 + 3 * 1024);
}

TEST_F(BuildSafetyTest, ThePageFileIsGoneOnEveryWayOut) {
    addAt(0, {wave("a.wav", 3000)});
    addAt(1, {wave("b.wav", 100)});
    dir.write("b.wav", waveBytes(rampSamples(200)));  // changed since it was added
    EXPECT_EQ(build("out.bin"), BuildResult::SectionsFailed);
    EXPECT_TRUE(fs::is_empty(dir / "Temp"));

    addAt(1, {wave("b.wav", 100)});
    {
        FileSizeLimit limit(2048);
        EXPECT_EQ(build("out.bin"), BuildResult::TempFileFailed);
    }
    EXPECT_TRUE(fs::is_empty(dir / "Temp"));

    files.saveAnswers.push_back((dir / "nowhere" / "out.bin").string());
    EXPECT_EQ(ops.makeDatFile(), BuildResult::ImageFailed);
    EXPECT_TRUE(fs::is_empty(dir / "Temp"));
}

TEST_F(BuildSafetyTest, SpecialFilesAreNeverReplacedByTheImageOrTheProject) {
    HangGuard guard;
    makeFifo(dir / "pipe.bin");
    fs::create_symlink("/dev/null", dir / "null.bin");
    addAt(0, {wave("a.wav", 100)});
    for (const char* name : {"pipe.bin", "null.bin"}) {
        const std::string path = (dir / name).string();
        EXPECT_EQ(build(name), BuildResult::ImageFailed) << name;
        EXPECT_EQ(prompter.boxes.back(),
                  (Box{"ERROR", "Failed to create file: " + path, core::BoxIcon::Error}));
        files.saveAnswers.push_back(path);
        EXPECT_EQ(ops.saveProject(), editor::ProjectResult::Failed) << name;
        EXPECT_EQ(prompter.boxes.back(),
                  (Box{"ERROR", "Failed to create file: " + path, core::BoxIcon::Error}));
    }
    EXPECT_TRUE(devNullIntact());
    EXPECT_TRUE(isFifo(dir / "pipe.bin"));
    EXPECT_TRUE(fs::is_symlink(dir / "null.bin"));
    EXPECT_TRUE(leftovers().empty());
    EXPECT_TRUE(fs::is_empty(dir / "Temp"));
}

TEST_F(BuildSafetyTest, SpecialFilesAsInputFailAtOnce) {
    HangGuard guard;
    makeFifo(dir / "pipe.log");
    fs::create_symlink("/dev/zero", dir / "zero.log");
    for (const char* name : {"pipe.log", "zero.log"}) {
        const std::string path = (dir / name).string();
        files.openAnswers.push_back(path);
        EXPECT_EQ(ops.loadProject(), editor::ProjectResult::Failed) << name;
        EXPECT_EQ(prompter.boxes.back(),
                  (Box{"ERROR", "Failed to open file: " + path, core::BoxIcon::Error}));
    }
    makeFifo(dir / "pipe.wav");
    EXPECT_EQ(addAt(0, {(dir / "pipe.wav").string()}), editor::AddResult::Failed);
    EXPECT_EQ(prompter.boxes.back(),
              (Box{"ERROR", "Failed to open wave file: " + (dir / "pipe.wav").string(),
                   core::BoxIcon::Error}));
}

// A header may claim far more data than the file holds; the short data are
// padded, but never past what a Tarn20 can hold.
TEST_F(BuildSafetyTest, ASectionPastTheChipsPagesIsMarkedAndNothingIsWritten) {
    WaveShape huge;
    huge.declaredSize = 0xFFFF0000;
    auto path = dir.write("huge.wav", waveBytes(rampSamples(10), huge)).string();
    addAt(0, {wave("a.wav", 100)});
    addAt(1, {path});
    EXPECT_EQ(build("out.bin"), BuildResult::SectionsFailed);
    EXPECT_EQ(table.cell(2, kColStatus), "The wave size is out of range!");
    EXPECT_EQ(table.cell(1, kColStatus), "");
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
    EXPECT_TRUE(fs::is_empty(dir / "Temp"));
}

TEST(ImagePageLimit, TheLastPageOfTheTarnUserAreaIsTheLimit) {
    WaveShape shape;
    const std::uint32_t room = 124032 - 17;  // pages after the information pages
    for (std::uint32_t size : {room * 1024, room * 1024 - 1023, room * 1024 + 1}) {
        shape.declaredSize = size;
        Bytes header = waveBytes({}, shape);
        const int code = editor::checkSectionHeader(header.data(), header.size(), 8000, size, 17);
        EXPECT_EQ(code, size <= room * 1024 ? editor::kWaveOk : editor::kWaveTooLarge) << size;
    }
    shape.declaredSize = 1024;
    Bytes one = waveBytes({}, shape);
    EXPECT_EQ(editor::checkSectionHeader(one.data(), one.size(), 8000, 1024, 124031),
              editor::kWaveOk);
    EXPECT_EQ(editor::checkSectionHeader(one.data(), one.size(), 8000, 1024, 124032),
              editor::kWaveTooLarge);
}

}  // namespace
}  // namespace sonoprog::test
