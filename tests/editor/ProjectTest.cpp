#include <gtest/gtest.h>

#include <filesystem>

#include "core/YieldHook.h"
#include "editor/ProjectFile.h"
#include "tests/editor/EditorFixture.h"

namespace sonoprog::test {
namespace {

using editor::kColFile;
using editor::kColRate;
using editor::kColSize;
using editor::kColStatus;
using editor::ProjectResult;

class ProjectTest : public EditorFixture {
protected:
    ProjectResult save(const std::string& name) {
        files.saveAnswers.push_back((dir / name).string());
        return ops.saveProject();
    }
    ProjectResult load(const std::filesystem::path& path) {
        files.openAnswers.push_back(path.string());
        return ops.loadProject();
    }
};

std::string emptyProject() {
    std::string text;
    for (int i = 0; i < 1024; ++i) text += ">>>\r\n";
    return text + "2011/06/07-04:50:07";
}

TEST_F(ProjectTest, EmptyTableSavesAsOneLinePerSectionAndTheStamp) {
    EXPECT_EQ(save("p.log"), ProjectResult::Done);
    auto text = readText(dir / "p.log");
    EXPECT_EQ(text.size(), 1024u * 5 + 19);
    EXPECT_EQ(text, emptyProject());
    EXPECT_EQ(files.requests.back().filter, "LOG file|*.log");
    EXPECT_EQ(files.requests.back().defaultExtension, "log");
    EXPECT_EQ(panel.hints.front(), "Saving project!");
    EXPECT_EQ(panel.hint(), "Done!");
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(ProjectTest, SavedCellsAndPathsWithBlanksComeBack) {
    table.setCell(1, kColRate, "8000");
    table.setCell(1, kColSize, "1500");
    table.setCell(1, kColFile, "/Voice/hello.wav");
    table.setCell(3, kColRate, "16000");
    table.setCell(3, kColSize, "2048");
    table.setCell(3, kColFile, "/My Sounds/a  b.wav");
    table.setCell(1024, kColFile, "/trail blank.wav ");
    ASSERT_EQ(save("p.log"), ProjectResult::Done);
    auto text = readText(dir / "p.log");
    const std::string head =
        "8000>1500>/Voice/hello.wav>\r\n>>>\r\n16000>2048>/My Sounds/a  b.wav>\r\n>>>\r\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    const std::string tail = ">>/trail blank.wav >\r\n2011/06/07-04:50:07";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);

    editor::SectionTable saved = table;
    table.setCell(5, kColStatus, "The wave size is different from before!");
    for (int r = 1; r <= 1024; ++r)
        for (int c = 1; c <= 3; ++c) table.setCell(r, c, "junk");
    panel.hints.clear();
    ASSERT_EQ(load(dir / "p.log"), ProjectResult::Done);
    for (int r = 1; r <= 1024; ++r)
        for (int c = 1; c <= 3; ++c) ASSERT_EQ(table.cell(r, c), saved.cell(r, c)) << r;
    EXPECT_EQ(table.cell(5, kColStatus), "The wave size is different from before!");
    EXPECT_EQ(panel.summary(editor::SummaryField::LstSec), "1023");
    EXPECT_EQ(panel.hints.front(), "Loading project!");
    EXPECT_EQ(panel.hint(), "Done!");
}

TEST_F(ProjectTest, CrLfLoadsLikeLf) {
    auto lf = dir.write("lf.log", std::string("8000>10>/a.wav>\n>>>\n11025>20>/b c.wav>\n"));
    auto crlf =
        dir.write("crlf.log", std::string("8000>10>/a.wav>\r\n>>>\r\n11025>20>/b c.wav>\r\n"));
    ASSERT_EQ(load(lf), ProjectResult::Done);
    editor::SectionTable fromLf = table;
    ASSERT_EQ(load(crlf), ProjectResult::Done);
    for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 3; ++c) EXPECT_EQ(table.cell(r, c), fromLf.cell(r, c));
    EXPECT_EQ(table.cell(3, kColFile), "/b c.wav");
    EXPECT_EQ(table.cell(3, kColRate), "11025");
}

TEST_F(ProjectTest, FieldsAreTakenAsTheyAre) {
    ASSERT_EQ(load(dir.write("p.log", std::string("abc>12>/x.wav>\r\n"))), ProjectResult::Done);
    EXPECT_EQ(table.cell(1, kColRate), "abc");
    EXPECT_EQ(table.cell(1, kColSize), "12");
    EXPECT_EQ(table.cell(1, kColFile), "/x.wav");
}

TEST_F(ProjectTest, ShortFilesMissingFieldsAndLongLines) {
    for (int r = 1; r <= 1024; ++r) table.setCell(r, kColFile, "/old.wav");
    std::string longLine = "8000>77>/" + std::string(2000, 'L') + ">\r\n";
    ASSERT_EQ(load(dir.write("p.log", "16000>5\r\n" + longLine + "4000>9>/next.wav>")),
              ProjectResult::Done);
    EXPECT_EQ(table.cell(1, kColRate), "16000");
    EXPECT_EQ(table.cell(1, kColSize), "5");
    EXPECT_EQ(table.cell(1, kColFile), "");
    // The long line keeps its first 1,023 characters and does not spill over.
    EXPECT_EQ(table.cell(2, kColSize), "77");
    EXPECT_EQ(table.cell(2, kColFile), "/" + std::string(1023 - 9, 'L'));
    EXPECT_EQ(table.cell(3, kColFile), "/next.wav");
    EXPECT_EQ(table.cell(3, kColRate), "4000");
    EXPECT_FALSE(table.isUsed(4));
    EXPECT_FALSE(table.isUsed(1024));
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::Save));
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::PageControl));
}

TEST_F(ProjectTest, ControlCharactersEndFieldsAndBinaryBytesDoNotBreakTheLoad) {
    std::string text = "80\t00>1>/a.wav>\n";
    text += std::string("1>2>/b\0c.wav>\n", 14);
    text += "\x01\xff\xfe>\x7f>>\n";
    ASSERT_EQ(load(dir.write("p.log", text)), ProjectResult::Done);
    EXPECT_EQ(table.cell(1, kColRate), "80");
    EXPECT_EQ(table.cell(1, kColSize), "00");
    EXPECT_EQ(table.cell(1, kColFile), (dir / "1").string());  // a relative path
    EXPECT_EQ(table.cell(2, kColFile), "/b");
    EXPECT_EQ(table.cell(3, kColRate), "\xff\xfe");
    EXPECT_EQ(table.cell(3, kColSize), "\x7f");
}

TEST_F(ProjectTest, SplittingKeepsEmptyFieldsLikeTheSavedLines) {
    using editor::splitProjectLine;
    EXPECT_EQ(splitProjectLine(">>>"), (std::vector<std::string>{"", "", "", ""}));
    EXPECT_EQ(splitProjectLine("8000>1500>/a.wav>\r"),
              (std::vector<std::string>{"8000", "1500", "/a.wav"}));
    EXPECT_EQ(splitProjectLine("8000>>/a.wav>"),
              (std::vector<std::string>{"8000", "", "/a.wav", ""}));
    EXPECT_TRUE(splitProjectLine("").empty());
}

TEST_F(ProjectTest, RelativePathsAreTakenFromTheProjectFolder) {
    std::filesystem::create_directory(dir / "proj");
    ASSERT_EQ(load(dir.write("proj/p.log", std::string("8000>10>sounds/a b.wav>\r\n"))),
              ProjectResult::Done);
    EXPECT_EQ(table.cell(1, kColFile), ((dir / "proj") / "sounds/a b.wav").string());
}

TEST_F(ProjectTest, UnreadableProjectLeavesTheTable) {
    table.setCell(1, kColFile, "/keep.wav");
    auto missing = (dir / "none.log").string();
    EXPECT_EQ(load(missing), ProjectResult::Failed);
    EXPECT_EQ(prompter.boxes.back(),
              (Box{"ERROR", "Failed to open file: " + missing, core::BoxIcon::Error}));
    EXPECT_EQ(table.cell(1, kColFile), "/keep.wav");
    EXPECT_EQ(load(dir.path()), ProjectResult::Failed);
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::Load));
    EXPECT_EQ(ops.loadProject(), ProjectResult::Cancelled);
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::PageControl));
}

TEST_F(ProjectTest, RefusedReplaceAndFailedWriteKeepTheEarlierFile) {
    const std::string earlier = "earlier project\r\n";
    auto path = dir.write("p.log", earlier);
    prompter.answers = {false};
    EXPECT_EQ(save("p.log"), ProjectResult::Refused);
    EXPECT_EQ(
        prompter.boxes.back(),
        (Box{"WARNING", "File: " + path.string() + " already exist, Do you want to replace it?",
             core::BoxIcon::Information, true}));
    EXPECT_EQ(readText(path), earlier);

    prompter.answers = {true};
    {
        FileSizeLimit limit(2000);  // the disk fills up half-way
        EXPECT_EQ(save("p.log"), ProjectResult::Failed);
    }
    EXPECT_EQ(prompter.boxes.back(),
              (Box{"ERROR", "Failed to create file: " + path.string(), core::BoxIcon::Error}));
    EXPECT_EQ(readText(path), earlier);
    EXPECT_TRUE(leftovers().empty());
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::Save));

    EXPECT_EQ(save("p.log"), ProjectResult::Done);
    EXPECT_EQ(readText(path), emptyProject());
}

TEST_F(ProjectTest, ReadOnlyTargetIsNotReplaced) {
    auto path = dir.write("ro.log", std::string("protected"));
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    EXPECT_EQ(save("ro.log"), ProjectResult::Failed);
    EXPECT_EQ(readText(path), "protected");
    EXPECT_EQ(prompter.boxes.back().text, "Failed to create file: " + path.string());
}

TEST_F(ProjectTest, FolderThatTakesNoFileReportsIt) {
    auto path = (dir / "no/such/folder/p.log").string();
    files.saveAnswers.push_back(path);
    EXPECT_EQ(ops.saveProject(), ProjectResult::Failed);
    EXPECT_EQ(prompter.boxes.back().text, "Failed to create file: " + path);
}

// Records, at every breath, whether the page was locked.
class LockProbe final : public core::YieldHook {
public:
    explicit LockProbe(editor::PanelState& panel) : panel_(panel) {}
    void yield() override {
        using C = editor::EditorControl;
        bool all = true;
        for (C c : {C::Save, C::Load, C::Build, C::Add, C::Remove, C::Up, C::Down, C::Clear,
                    C::DeviceSel, C::PageControl})
            all = all && !panel_.controlEnabled(c);
        ++breaths;
        if (!all) ++unlockedBreaths;
    }
    int breaths = 0;
    int unlockedBreaths = 0;

private:
    editor::PanelState& panel_;
};

TEST_F(ProjectTest, SaveLoadAndBuildRunLockedAndBreathePerRow) {
    LockProbe probe(panel);
    editor::EditorOperations locked(table, panel, prompter, files, probe, clock, paths);
    files.saveAnswers.push_back((dir / "p.log").string());
    EXPECT_EQ(locked.saveProject(), ProjectResult::Done);
    EXPECT_EQ(probe.breaths, 1024);
    files.openAnswers.push_back((dir / "p.log").string());
    EXPECT_EQ(locked.loadProject(), ProjectResult::Done);
    EXPECT_EQ(probe.breaths, 2048);
    files.saveAnswers.push_back((dir / "o.bin").string());
    EXPECT_EQ(locked.makeDatFile(), editor::BuildResult::Done);
    EXPECT_GE(probe.breaths, 2048 + 1024);
    EXPECT_EQ(probe.unlockedBreaths, 0);
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::PageControl));
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::DeviceSel));
}

}  // namespace
}  // namespace sonoprog::test
