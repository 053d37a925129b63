#include <gtest/gtest.h>

#include <filesystem>

#include "tests/editor/EditorFixture.h"
#include "tests/support/AudioFiles.h"

namespace sonoprog::test {
namespace {

using editor::kColFile;
using editor::SummaryField;

class LongWorkTest : public EditorFixture {
protected:
    LongWorkTest() {
        ops.setLongWork([this](const core::ProgressFigures& f) { figures.push_back(f); }, &stop);
    }
    StopAfter stop{1000};
    std::vector<core::ProgressFigures> figures;
};

}  // namespace

TEST_F(LongWorkTest, MakeDatFileCountsItsUsedSectionsAndAStopWritesNoImage) {
    ASSERT_EQ(addAt(0, {wave("a.wav", 3000), wave("b.wav", 2000), wave("c.wav", 1000)}),
              editor::AddResult::Placed);
    ASSERT_EQ(addAt(40, {wave("d.wav", 500)}), editor::AddResult::Placed);

    stop.after = 2;  // two sections built, then the stop
    EXPECT_EQ(build("stopped.bin"), editor::BuildResult::Stopped);
    EXPECT_FALSE(std::filesystem::exists(dir / "stopped.bin"));
    EXPECT_TRUE(leftovers().empty());
    EXPECT_EQ(panel.hint(), "Stopped by the operator.");
    EXPECT_TRUE(prompter.boxes.empty());
    ASSERT_FALSE(figures.empty());
    EXPECT_EQ(figures.back().unit, core::ProgressUnit::Sections);
    EXPECT_EQ(figures.back().done, 2u);
    EXPECT_EQ(figures.back().total, 4u);  // the used sections, not the table's rows
    EXPECT_TRUE(panel.controlEnabled(editor::EditorControl::Build));

    figures.clear();
    stop.after = 1000;
    stop.asked = 0;
    EXPECT_EQ(build("whole.bin"), editor::BuildResult::Done);
    EXPECT_TRUE(std::filesystem::exists(dir / "whole.bin"));
    ASSERT_FALSE(figures.empty());
    EXPECT_EQ(figures.front().done, 0u);
    EXPECT_EQ(figures.back().done, 4u);
    EXPECT_EQ(stop.asked, 4);  // once before each used section
}

TEST_F(LongWorkTest, ImportAudioStopsBetweenFilesAndKeepsThoseBefore) {
    std::vector<std::string> songs;
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        songs.push_back((dir / name).string());
        writeSource(songs.back(), {wav16(), 22050, 1, 0.1, sine(440, -6)});
    }
    editor::ImportSettings settings;
    settings.rate = 8000;
    settings.outDir = (dir / "out").string();
    stop.after = 2;
    ops.selectRow(5 + 1);
    EXPECT_EQ(ops.importFiles(songs, settings), editor::AddResult::Stopped);
    EXPECT_EQ(table.cell(6, kColFile), (dir / "out" / "a.wav").string());
    EXPECT_EQ(table.cell(7, kColFile), (dir / "out" / "b.wav").string());
    EXPECT_EQ(table.cell(8, kColFile), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "c.wav"));
    EXPECT_EQ(panel.summary(SummaryField::LstSec), "6");  // the summary counts those placed
    EXPECT_EQ(panel.hint(), "Stopped by the operator.");
    ASSERT_FALSE(figures.empty());
    EXPECT_EQ(figures.back().unit, core::ProgressUnit::Files);
    EXPECT_EQ(figures.back().done, 2u);
    EXPECT_EQ(figures.back().total, 3u);
}

}  // namespace sonoprog::test
