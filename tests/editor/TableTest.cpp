#include <gtest/gtest.h>

#include "tests/editor/EditorFixture.h"

namespace sonoprog::test {
namespace {

using editor::EditorControl;
using editor::kColFile;
using editor::kColRate;
using editor::kColSize;
using editor::kColStatus;
using editor::SummaryField;

class TableTest : public EditorFixture {
protected:
    std::string usage() const { return panel.summary(SummaryField::MemUsg); }
    std::string last() const { return panel.summary(SummaryField::LstSec); }
    std::string highest() const { return panel.summary(SummaryField::HstRate); }
    bool enabled(EditorControl c) const { return panel.controlEnabled(c); }
};

TEST_F(TableTest, StartsWithHeadingsLabelsAndEmptySections) {
    EXPECT_EQ(table.cell(0, 0), "Section No.");
    EXPECT_EQ(table.cell(0, 1), "Rate(Hz)");
    EXPECT_EQ(table.cell(0, 2), "Size(Byte)");
    EXPECT_EQ(table.cell(0, 3), "File");
    EXPECT_EQ(table.cell(0, 4), "");
    EXPECT_EQ(table.cell(1, 0), "Section 0");
    EXPECT_EQ(table.cell(1024, 0), "Section 1023");
    for (int r = 1; r <= 1024; ++r) ASSERT_FALSE(table.isUsed(r));
    EXPECT_EQ(table.currentRow(), 1);
    EXPECT_EQ(usage(), "0");
    EXPECT_FALSE(enabled(EditorControl::Remove));
}

TEST_F(TableTest, ThreeFilesAtSectionFiveFillFiveToSevenAndKeepTheSelection) {
    table.setCell(7, kColFile, "/old/x.wav");
    table.setCell(7, kColStatus, "The wave size is different from before!");
    auto a = wave("a.wav", 100, 8000);
    auto b = wave("b.wav", 200, 16000);
    auto c = wave("c.wav", 300, 11025);
    EXPECT_EQ(addAt(5, {a, b, c}), editor::AddResult::Placed);
    EXPECT_EQ(table.cell(6, kColFile), a);
    EXPECT_EQ(table.cell(7, kColFile), b);
    EXPECT_EQ(table.cell(7, kColRate), "16000");
    EXPECT_EQ(table.cell(7, kColSize), "200");
    EXPECT_EQ(table.cell(7, kColStatus), "");
    EXPECT_EQ(table.cell(8, kColFile), c);
    EXPECT_FALSE(table.isUsed(9));
    EXPECT_EQ(table.currentRow(), 6);
    EXPECT_TRUE(enabled(EditorControl::Remove));
    EXPECT_TRUE(enabled(EditorControl::Up));
    EXPECT_TRUE(enabled(EditorControl::Down));
    EXPECT_EQ(highest(), "16000");
    EXPECT_EQ(last(), "7");
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_EQ(files.requests[0].filter, "WAV file|*.wav");
}

TEST_F(TableTest, LastSectionFollowsAddAndRemove) {
    addAt(0, {wave("a.wav", 10)});
    addAt(3, {wave("b.wav", 10)});
    EXPECT_EQ(last(), "3");
    ops.selectRow(4);
    ops.removeSection();
    EXPECT_EQ(last(), "0");
    ops.selectRow(1);
    ops.removeSection();
    EXPECT_EQ(last(), "-1");
    EXPECT_EQ(highest(), "0");
    EXPECT_FALSE(enabled(EditorControl::Remove));
    EXPECT_FALSE(enabled(EditorControl::Up));
    EXPECT_FALSE(enabled(EditorControl::Down));
}

TEST_F(TableTest, UsageIsTheImageSizeAfterAddAndAfterRemove) {
    struct Case {
        std::size_t size;
        const char* usage;
    };
    for (Case c :
         {Case{1000, "18432"}, Case{1024, "18432"}, Case{0, "17408"}, Case{1025, "19456"}}) {
        addAt(0, {wave("one.wav", c.size)});
        EXPECT_EQ(usage(), c.usage) << c.size;
        ops.selectRow(1);
        ops.removeSection();
        EXPECT_EQ(usage(), "17408") << c.size;
        EXPECT_EQ(last(), "-1");
    }
    addAt(0, {wave("a.wav", 1000), wave("b.wav", 3000), wave("c.wav", 5000)});
    EXPECT_EQ(usage(), std::to_string(17408 + 1024 + 3072 + 5120));
    ops.selectRow(3);
    ops.removeSection();
    EXPECT_EQ(usage(), "21504");
}

TEST_F(TableTest, FailingSecondFileStopsTheSelectionAndLeavesTheSummary) {
    addAt(10, {wave("keep.wav", 500)});
    const std::string before = usage();
    table.setCell(3, kColFile, "/untouched.wav");
    auto good = wave("g.wav", 2000);
    WaveShape stereo;
    stereo.channels = 2;
    auto bad = dir.write("bad.wav", waveBytes(rampSamples(10), stereo)).string();
    EXPECT_EQ(addAt(1, {good, bad, wave("h.wav", 10)}), editor::AddResult::Failed);
    EXPECT_EQ(table.cell(2, kColFile), good);
    EXPECT_EQ(table.cell(3, kColFile), "/untouched.wav");
    EXPECT_FALSE(table.isUsed(4));
    EXPECT_EQ(usage(), before);
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0],
              (Box{"ERROR", bad + "is not a 8-bit mono wave file!", core::BoxIcon::Error}));

    auto missing = (dir / "gone.wav").string();
    EXPECT_EQ(addAt(1, {missing}), editor::AddResult::Failed);
    EXPECT_EQ(prompter.boxes.back(),
              (Box{"ERROR", "Failed to open wave file: " + missing, core::BoxIcon::Error}));
}

TEST_F(TableTest, SixteenBitStereoAndNonPcmAreRefused) {
    WaveShape shapes[3];
    shapes[0].bits = 16;
    shapes[1].channels = 2;
    shapes[2].format = 2;
    for (const WaveShape& s : shapes) {
        auto p = dir.write("x.wav", waveBytes(rampSamples(40), s)).string();
        EXPECT_EQ(addAt(0, {p}), editor::AddResult::Failed);
        EXPECT_EQ(prompter.boxes.back().text, p + "is not a 8-bit mono wave file!");
    }
    EXPECT_FALSE(table.isUsed(1));
}

TEST_F(TableTest, FilesPastTheLastSectionAreLeftOutAndCounted) {
    auto a = wave("a.wav", 10);
    EXPECT_EQ(addAt(1022, {a, a, a, wave("d.wav", 10)}), editor::AddResult::Placed);
    // The ones left out are named for the command line.
    EXPECT_EQ(ops.leftOut(), (std::vector<std::string>{a, (dir / "d.wav").string()}));
    EXPECT_EQ(table.cell(1023, kColFile), a);
    EXPECT_EQ(table.cell(1024, kColFile), a);
    EXPECT_EQ(last(), "1023");
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].caption, "INFO");
    EXPECT_EQ(prompter.boxes[0].text,
              "2 wave file(s) did not fit after section 1023 and were not added!");
}

TEST_F(TableTest, CancelledDialogChangesNothing) {
    EXPECT_EQ(ops.addReplace(), editor::AddResult::Cancelled);
    EXPECT_FALSE(table.isUsed(1));
    EXPECT_EQ(usage(), "0");
    EXPECT_TRUE(panel.enableEvents.empty());
}

TEST_F(TableTest, UpOnSectionOneAndDownOnSection1022) {
    auto a = wave("a.wav", 10);
    auto b = wave("b.wav", 20);
    addAt(0, {a, b});
    ops.selectRow(2);
    ops.moveUp();
    EXPECT_EQ(table.cell(1, kColFile), b);
    EXPECT_EQ(table.cell(2, kColFile), a);
    EXPECT_EQ(table.cell(1, 0), "Section 0");
    EXPECT_EQ(table.currentRow(), 1);
    EXPECT_FALSE(enabled(EditorControl::Up));
    EXPECT_TRUE(enabled(EditorControl::Down));
    ops.moveUp();  // the heading row never takes part
    EXPECT_EQ(table.cell(0, 0), "Section No.");
    EXPECT_EQ(table.cell(1, kColFile), b);

    addAt(1022, {a});
    ops.moveDown();
    EXPECT_EQ(table.currentRow(), 1024);
    EXPECT_EQ(table.cell(1024, kColFile), a);
    EXPECT_FALSE(table.isUsed(1023));
    EXPECT_FALSE(enabled(EditorControl::Down));
    EXPECT_TRUE(enabled(EditorControl::Up));
    ops.moveDown();
    EXPECT_EQ(table.currentRow(), 1024);
    EXPECT_EQ(last(), "1023");
}

TEST_F(TableTest, StatusTextMovesWithItsSectionAndShowsInTheHint) {
    addAt(4, {wave("a.wav", 10)});
    table.setCell(5, kColStatus, "The wave rate is different from before!");
    ops.selectRow(5);
    EXPECT_EQ(panel.hint(), "The wave rate is different from before!");
    ops.moveDown();
    EXPECT_EQ(table.cell(6, kColStatus), "The wave rate is different from before!");
    EXPECT_EQ(table.cell(5, kColStatus), "");
    EXPECT_EQ(panel.hint(), "The wave rate is different from before!");
    ops.moveUp();
    ops.moveUp();
    EXPECT_EQ(table.cell(4, kColStatus), "The wave rate is different from before!");
    ops.selectRow(9);
    EXPECT_EQ(panel.hint(), "Double click to add or replace wave file.");
    auto marked = editor::markedSections(table);
    ASSERT_EQ(marked.size(), 1u);
    EXPECT_EQ(marked[0].section, 3);
}

TEST_F(TableTest, RowSelectionSetsTheRowButtons) {
    addAt(0, {wave("a.wav", 10)});
    ops.selectRow(2);
    EXPECT_FALSE(enabled(EditorControl::Remove));
    EXPECT_FALSE(enabled(EditorControl::Up));
    ops.selectRow(1);
    EXPECT_TRUE(enabled(EditorControl::Remove));
    EXPECT_FALSE(enabled(EditorControl::Up));
    EXPECT_TRUE(enabled(EditorControl::Down));
    ops.selectRow(0);  // the heading row is never current
    EXPECT_EQ(table.currentRow(), 1);
}

TEST_F(TableTest, ClearAllAsksFirst) {
    addAt(0, {wave("a.wav", 1000), wave("b.wav", 10)});
    table.setCell(2, kColStatus, "x");
    prompter.answers = {false};
    EXPECT_FALSE(ops.clearAll());
    EXPECT_TRUE(table.isUsed(1));
    EXPECT_EQ(prompter.boxes.back(), (Box{"WARNING", "Do you want to clear all of section?",
                                          core::BoxIcon::Information, true}));
    prompter.answers = {true};
    EXPECT_TRUE(ops.clearAll());
    for (int r = 1; r <= 1024; ++r)
        for (int c = 1; c <= 4; ++c) ASSERT_EQ(table.cell(r, c), "") << r << "," << c;
    EXPECT_EQ(usage(), "17408");
    EXPECT_EQ(last(), "-1");
    EXPECT_FALSE(enabled(EditorControl::Remove));
    EXPECT_FALSE(enabled(EditorControl::Up));
    EXPECT_FALSE(enabled(EditorControl::Down));
}

TEST_F(TableTest, LockAndUnlockSwitchTheirListsInOrder) {
    addAt(0, {wave("a.wav", 10)});
    panel.enableEvents.clear();
    ops.LockEditorTab();
    using C = EditorControl;
    std::vector<std::pair<C, bool>> locked = {
        {C::Save, false},      {C::Load, false},       {C::Build, false}, {C::Add, false},
        {C::Remove, false},    {C::Up, false},         {C::Down, false},  {C::Clear, false},
        {C::DeviceSel, false}, {C::PageControl, false}};
    EXPECT_EQ(panel.enableEvents, locked);
    panel.enableEvents.clear();
    ops.UnlockEditorTab();  // section 0 is current: no Up
    std::vector<std::pair<C, bool>> unlocked = {
        {C::Save, true},  {C::Load, true},      {C::Build, true},
        {C::Add, true},   {C::Remove, true},    {C::Down, true},
        {C::Clear, true}, {C::DeviceSel, true}, {C::PageControl, true}};
    EXPECT_EQ(panel.enableEvents, unlocked);
    ops.selectRow(50);
    ops.LockEditorTab();
    ops.UnlockEditorTab();
    EXPECT_FALSE(enabled(C::Remove));
    EXPECT_TRUE(enabled(C::Clear));
}

TEST(CellNumber, ReadsSignedDecimalAsThirtyTwoBits) {
    EXPECT_EQ(editor::cellNumber("8000"), 8000u);
    EXPECT_EQ(editor::cellNumber(" 12 "), 12u);
    EXPECT_EQ(editor::cellNumber("abc"), 0u);
    EXPECT_EQ(editor::cellNumber(""), 0u);
    EXPECT_EQ(editor::cellNumber("12x"), 0u);
    EXPECT_EQ(editor::cellNumber("4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(editor::cellNumber("4294967296"), 0u);
    EXPECT_EQ(editor::cellNumber("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(editor::cellNumber("0x10"), 0u);
}

}  // namespace
}  // namespace sonoprog::test
