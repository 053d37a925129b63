#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <functional>

#include "core/YieldHook.h"
#include "gui/ControlLock.h"
#include "gui/Gauge.h"
#include "gui/LogPane.h"
#include "link/Link.h"
#include "sim/TarnChip.h"
#include "sim/VirtualWriter.h"
#include "tarn/TarnPage.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;

namespace {

// The window's message pass, with a look at the controls first.
struct ProbeYield final : core::YieldHook {
    std::function<void()> probe;
    void yield() override {
        if (probe) probe();
        QCoreApplication::processEvents();
    }
};

const char* const kLockedControls[] = {
    "BT_Tarn_LoadFile", "BT_Tarn_Write",    "BT_Tarn_Verify",     "ED_Tarn_PageBeg",
    "ED_Tarn_PageCnt",  "ED_Tarn_InfoPage", "ED_Tarn_AllowError", "BT_Tarn_Read",
};

struct TarnTabTest : ::testing::Test {
    test::TempDir dir;
    core::AppPaths paths = core::AppPaths::forFolder(dir.path());
    sim::VirtualWriter writer;
    std::shared_ptr<sim::TarnChip> chip = std::make_shared<sim::TarnChip>();
    test::RecordingPrompter prompter;
    link::Link link{writer, prompter};
    test::ScriptedFileChooser files;
    test::FixedClock clock;
    ProbeYield yield;
    QTabWidget pcMain;
    QComboBox deviceSel;
    gui::TabEnvironment env{&deviceSel, &pcMain, prompter, files, yield, clock, link, paths};
    tarn::TarnPage tab{env};

    std::vector<QWidget*> lockList() {
        std::vector<QWidget*> out;
        for (const char* name : kLockedControls) out.push_back(tab.findChild<QWidget*>(name));
        out.push_back(&deviceSel);
        out.push_back(&pcMain);
        return out;
    }
    // How many controls of the lock list are enabled now.
    int enabledCount() {
        int n = 0;
        for (QWidget* w : lockList()) n += w && !gui::ControlLock::isLocked(*w);
        return n;
    }
    void load(std::uint32_t pages) {
        std::vector<std::uint8_t> image(std::size_t{pages} * 1024);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i % 251);
        files.openAnswers.push_back(dir.write("tab.bin", image).string());
        tab.BT_Tarn_LoadFile->click();
    }

    TarnTabTest() {
        paths.ensureTemp();
        writer.addChip(chip);
        writer.open();
    }
};

}  // namespace

TEST_F(TarnTabTest, ControlsCarryTheirNamesAndDefaults) {
    for (const char* name :
         {"ED_Tarn_LoadFile", "ED_Tarn_FileSize", "ED_Tarn_ChkSum", "ED_Tarn_PageBeg",
          "ED_Tarn_PageCnt", "ED_Tarn_InfoPage", "ED_Tarn_AllowError", "BT_Tarn_LoadFile",
          "BT_Tarn_Write", "BT_Tarn_Verify", "BT_Tarn_Read", "PN_Tarn_Eng", "RE_Tarn_State",
          "CG_Tarn_Progress"})
        EXPECT_NE(tab.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(tab.ED_Tarn_PageBeg->text(), "0");
    EXPECT_EQ(tab.ED_Tarn_PageCnt->text(), "1");
    EXPECT_EQ(tab.ED_Tarn_InfoPage->text(), "17");
    EXPECT_EQ(tab.ED_Tarn_AllowError->text(), "3");
    EXPECT_TRUE(tab.ED_Tarn_LoadFile->isReadOnly());
    EXPECT_TRUE(tab.ED_Tarn_FileSize->isReadOnly());
    EXPECT_TRUE(tab.ED_Tarn_ChkSum->isReadOnly());
    EXPECT_EQ(tab.BT_Tarn_Read->parentWidget(), tab.PN_Tarn_Eng);
    // Everything fits the window's tab page.
    for (QWidget* w : tab.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_LE(w->geometry().right(), 769) << w->objectName().toStdString();
        EXPECT_LE(w->geometry().bottom(), 527) << w->objectName().toStdString();
    }
}

TEST_F(TarnTabTest, EngineeringPanelShownOnlyInEngineeringMode) {
    EXPECT_FALSE(tab.PN_Tarn_Eng->isVisibleTo(&tab));
    tab.setEngineeringPanelVisible(true);
    EXPECT_TRUE(tab.PN_Tarn_Eng->isVisibleTo(&tab));
    EXPECT_TRUE(tab.BT_Tarn_Read->isVisibleTo(&tab));
    tab.setEngineeringPanelVisible(false);
    EXPECT_FALSE(tab.PN_Tarn_Eng->isVisibleTo(&tab));
}

TEST_F(TarnTabTest, LoadFillsTheFieldsAndWriteLocksTheTabWhileItRuns) {
    load(20);
    EXPECT_EQ(tab.ED_Tarn_FileSize->text(), "20480");
    EXPECT_EQ(tab.ED_Tarn_PageCnt->text(), "20");
    EXPECT_EQ(tab.ED_Tarn_ChkSum->text().size(), 8);
    EXPECT_TRUE(tab.RE_Tarn_State->lineTexts().contains("  -> Get file check sum..."));

    std::vector<int> seen;
    yield.probe = [&] { seen.push_back(enabledCount()); };
    tab.BT_Tarn_Write->click();
    ASSERT_EQ(seen.size(), 20u);
    EXPECT_EQ(seen, std::vector<int>(20, 0));  // every control of the list locked
    EXPECT_EQ(enabledCount(), 10);
    EXPECT_TRUE(tab.RE_Tarn_State->lineTexts().contains("    [O] Passed!"));
    EXPECT_EQ(tab.CG_Tarn_Progress->progress(), 100);
}

TEST_F(TarnTabTest, FailedOperationUnlocksEvenTheDisabledDeviceSelector) {
    tab.ED_Tarn_InfoPage->setText("4");
    load(4);
    tab.ED_Tarn_AllowError->setText("0");
    // In engineering mode start-up leaves the selector disabled.
    deviceSel.setEnabled(false);
    int lockedSeen = 0;
    yield.probe = [&] { lockedSeen += enabledCount() == 0; };
    tab.BT_Tarn_Verify->click();  // the chip is blank: the first page fails
    EXPECT_EQ(lockedSeen, 1);
    EXPECT_TRUE(tab.RE_Tarn_State->lineTexts().contains(
        "    [X] Failed to verify page: 0x000000 (Code information has broken)!"))
        << tab.RE_Tarn_State->toPlainText().toStdString();
    EXPECT_EQ(enabledCount(), 10);
    EXPECT_TRUE(deviceSel.isEnabled());

    chip->statuses().failNth(0x14, chip->statuses().count(0x14) + 2, 0x02);
    tab.setEngineeringPanelVisible(true);
    tab.BT_Tarn_Read->click();
    EXPECT_TRUE(tab.RE_Tarn_State->lineTexts().contains(
        "    [X] Failed to read page: 0x000001 (Chip can not leave read mode!)!"));
    EXPECT_EQ(enabledCount(), 10);
}

// After "Failed file size!" the page shows the refused file with no check sum
// (never the previous image's), and Write and Verify refuse it as the load did.
TEST_F(TarnTabTest, ARefusedFileShowsNoSumAndIsNeverProgrammed) {
    load(20);
    ASSERT_EQ(tab.ED_Tarn_ChkSum->text().size(), 8);
    const auto refused = dir.write("odd.bin", std::vector<std::uint8_t>(1025, 0x00));
    files.openAnswers.push_back(refused.string());
    tab.BT_Tarn_LoadFile->click();
    EXPECT_EQ(tab.ED_Tarn_LoadFile->text().toStdString(), refused.string());
    EXPECT_EQ(tab.ED_Tarn_FileSize->text(), "1025");
    EXPECT_EQ(tab.ED_Tarn_ChkSum->text(), "");
    for (QPushButton* button : {tab.BT_Tarn_Write, tab.BT_Tarn_Verify}) {
        button->click();
        const QStringList lines = tab.RE_Tarn_State->lineTexts();
        EXPECT_TRUE(lines.contains("    [X] Failed file size!")) << lines.join('\n').toStdString();
        EXPECT_FALSE(lines.contains("    [O] Passed!"));
    }
    EXPECT_EQ(chip->page(0), std::vector<std::uint8_t>(1024, 0xFF));
}

TEST_F(TarnTabTest, StopAndEscEndTheWriteAtAPageWithTheFiguresShown) {
    tab.show();
    tab.activateWindow();
    QApplication::processEvents();
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"Stop", [&] { tab.BT_Tarn_Stop->click(); }},
        {"Esc", [&] { QTest::keyClick(&tab, Qt::Key_Escape); }},
    };
    for (const auto& [name, press] : ways) {
        SCOPED_TRACE(name);
        load(20);
        EXPECT_FALSE(tab.BT_Tarn_Stop->isVisible());
        int turns = 0;
        bool stopShownAlone = true;
        QString figures;
        yield.probe = [&] {
            stopShownAlone &= tab.BT_Tarn_Stop->isVisible() && tab.BT_Tarn_Stop->isEnabled() &&
                              enabledCount() == 0;
            if (++turns == 5) {
                figures = tab.findChild<QLabel*>("LB_Tarn_Progress")->text();
                press();
            }
        };
        tab.BT_Tarn_Write->click();
        yield.probe = nullptr;
        EXPECT_TRUE(stopShownAlone);
        EXPECT_EQ(turns, 5);  // the page after the stop was never begun
        EXPECT_EQ(figures, QString::fromUtf8("3 of 20 pages \u00B7 0:00 elapsed"));
        const QStringList lines = tab.RE_Tarn_State->lineTexts();
        EXPECT_TRUE(lines.contains("    [!] Stopped by the operator."));
        EXPECT_FALSE(lines.contains("    [O] Passed!"));
        EXPECT_TRUE(lines.contains("    [O] Finished!"));
        EXPECT_FALSE(tab.BT_Tarn_Stop->isVisible());
        EXPECT_EQ(enabledCount(), 10);
        // Esc with nothing running stops nothing, and the next write runs whole.
        QTest::keyClick(&tab, Qt::Key_Escape);
        tab.BT_Tarn_Write->click();
        EXPECT_TRUE(tab.RE_Tarn_State->lineTexts().contains("    [O] Passed!"));
    }
}
