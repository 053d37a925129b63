#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "core/YieldHook.h"
#include "gui/ControlLock.h"
#include "gui/Gauge.h"
#include "gui/LogPane.h"
#include "ivr/IvrEncoder.h"
#include "kiva/KivaPage.h"
#include "link/Link.h"
#include "sim/KivaChip.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;

namespace {

// Notes, at every message pass or box, whether the tab's controls were enabled.
struct EnabledProbe {
    std::vector<QWidget*> controls;
    std::vector<bool> seen;
    void look() {
        bool all = true, none = true;
        for (auto* c : controls) (gui::ControlLock::isLocked(*c) ? all : none) = false;
        EXPECT_TRUE(all || none) << "the lock switches every control together";
        seen.push_back(all);
    }
};

class ProbeYield final : public core::YieldHook {
public:
    explicit ProbeYield(EnabledProbe& probe) : probe_(probe) {}
    void yield() override { probe_.look(); }

private:
    EnabledProbe& probe_;
};

class ProbePrompter final : public core::Prompter {
public:
    explicit ProbePrompter(EnabledProbe& probe) : probe_(probe) {}
    void showMessage(std::string_view caption, std::string_view text, core::BoxIcon) override {
        probe_.look();
        boxes.push_back(std::string(caption) + ": " + std::string(text));
    }
    bool askYesNo(std::string_view, std::string_view, core::BoxIcon) override { return true; }
    std::vector<std::string> boxes;

private:
    EnabledProbe& probe_;
};

class ProbeOpener final : public kiva::DocumentOpener {
public:
    explicit ProbeOpener(EnabledProbe& probe) : probe_(probe) {}
    void openDocument(const std::string& path) override {
        probe_.look();
        opened.push_back(path);
    }
    std::vector<std::string> opened;

private:
    EnabledProbe& probe_;
};

struct TabFixture : ::testing::Test {
    TabFixture() {
        writer.addChip(chip);
        link.Open();
        tab = std::make_unique<kiva::KivaPage>(env);
        pcMain.addTab(tab.get(), QStringLiteral("Kiva300 Writer"));
        probe.controls = {tab->BT_Kiva_LoadFile,
                          tab->BT_Kiva_AppNote,
                          tab->BT_Kiva_Blank,
                          tab->BT_Kiva_Write,
                          tab->BT_Kiva_Verify,
                          &deviceSel,
                          &pcMain};
        tab->setDocumentOpener(&opener);
    }
    ~TabFixture() override { pcMain.removeTab(0); }

    EnabledProbe probe;
    ProbeYield yield{probe};
    ProbePrompter prompter{probe};
    ProbeOpener opener{probe};
    test::ScriptedFileChooser files;
    test::FixedClock clock;
    sim::VirtualWriter writer;
    std::shared_ptr<sim::KivaChip> chip = std::make_shared<sim::KivaChip>();
    link::Link link{writer, prompter};
    core::AppPaths paths = core::AppPaths::forFolder("/nonexistent");
    QComboBox deviceSel;
    QTabWidget pcMain;
    gui::TabEnvironment env{&deviceSel, &pcMain, prompter, files, yield, clock, link, paths};
    std::unique_ptr<kiva::KivaPage> tab;
    test::TempDir dir;
};

}  // namespace

TEST_F(TabFixture, ControlsCarryTheirNames) {
    for (const char* name :
         {"ED_Kiva_LoadFile", "ED_Kiva_ChkSum", "ME_Kiva_DatInfo", "BT_Kiva_LoadFile",
          "BT_Kiva_AppNote", "BT_Kiva_Blank", "BT_Kiva_Write", "BT_Kiva_Verify", "RE_Kiva_State",
          "CG_Kiva_Progress"})
        EXPECT_NE(tab->findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_TRUE(tab->ED_Kiva_LoadFile->isReadOnly());
    EXPECT_TRUE(tab->ED_Kiva_ChkSum->isReadOnly());
    EXPECT_TRUE(tab->ME_Kiva_DatInfo->isReadOnly());
    EXPECT_EQ(tab->BT_Kiva_AppNote->text(), QStringLiteral("Application Note"));
    EXPECT_EQ(tab->BT_Kiva_Blank->text(), QStringLiteral("Blank Check"));
}

TEST_F(TabFixture, AnOperationLocksEverythingWhileItRunsAndUnlocksAtTheEnd) {
    deviceSel.setEnabled(false);  // as in engineering mode
    QTest::mouseClick(tab->BT_Kiva_Blank, Qt::LeftButton);
    ASSERT_EQ(probe.seen.size(), 86u);
    EXPECT_TRUE(std::none_of(probe.seen.begin(), probe.seen.end(), [](bool e) { return e; }));
    for (auto* c : probe.controls) EXPECT_FALSE(gui::ControlLock::isLocked(*c));
    EXPECT_EQ(tab->CG_Kiva_Progress->progress(), 100);
    const QStringList lines = tab->RE_Kiva_State->lineTexts();
    EXPECT_EQ(lines.front(), QStringLiteral("[ BLANK CHECK ]"));
    EXPECT_EQ(lines.back(), QStringLiteral("  -> Done!"));
    EXPECT_TRUE(lines.contains(QStringLiteral("    [O] Passed!")));
}

TEST_F(TabFixture, LockAndUnlockSwitchTheSevenControls) {
    tab->LockKivaTab();
    for (auto* c : probe.controls) EXPECT_TRUE(gui::ControlLock::isLocked(*c));
    // The page control is locked at its tabs: the fields stay enabled and keep
    // their look.
    EXPECT_FALSE(pcMain.tabBar()->isEnabled());
    EXPECT_TRUE(tab->ED_Kiva_LoadFile->isEnabled());
    EXPECT_TRUE(tab->ME_Kiva_DatInfo->isEnabled());
    // Nor does the focus of a disabled button fall into a field.
    EXPECT_EQ(tab->ED_Kiva_LoadFile->focusPolicy(), Qt::NoFocus);
    tab->UnlockKivaTab();
    for (auto* c : probe.controls) EXPECT_FALSE(gui::ControlLock::isLocked(*c));
}

TEST_F(TabFixture, LoadFileFillsTheFieldsAndWriteUsesThem) {
    std::vector<std::uint8_t> img(4096, 0x5A);
    img[0] = 16;
    img[1] = 0;
    img[14] = 0x34;
    img[15] = 0x12;
    const auto path = dir / "voice.dat";
    ASSERT_TRUE(ivr::ImageToIvrFile(path, img.data(), img.size(), {32, 0, 0}, ivr::IvrKeys()));
    files.openAnswers = {path.string()};
    tab->BT_Kiva_LoadFileClick();
    EXPECT_EQ(tab->ED_Kiva_LoadFile->text(), QString::fromStdString(path.string()));
    EXPECT_EQ(tab->ED_Kiva_ChkSum->text(), QStringLiteral("1234"));
    tab->BT_Kiva_WriteClick();
    EXPECT_TRUE(tab->RE_Kiva_State->lineTexts().contains(QStringLiteral("    [O] File: ") +
                                                         QString::fromStdString(path.string())));
    EXPECT_EQ(chip->contents()[100], 0x5A);
    tab->BT_Kiva_VerifyClick();
    EXPECT_EQ(tab->CG_Kiva_Progress->progress(), 100);
    EXPECT_TRUE(tab->ME_Kiva_DatInfo->toPlainText().isEmpty());
}

TEST_F(TabFixture, ApplicationNoteNeverLocks) {
    QTest::mouseClick(tab->BT_Kiva_AppNote, Qt::LeftButton);
    ASSERT_EQ(prompter.boxes, (std::vector<std::string>{"INFO: Please load a DAT file!"}));
    tab->ED_Kiva_LoadFile->setText(QString::fromStdString((dir / "voice.dat").string()));
    dir.write("voice.ini", std::string("[Info]\nExtName=.pdf\n"));
    QTest::mouseClick(tab->BT_Kiva_AppNote, Qt::LeftButton);
    EXPECT_EQ(opener.opened, (std::vector<std::string>{(dir / "voice.pdf").string()}));
    ASSERT_EQ(probe.seen.size(), 2u);
    EXPECT_TRUE(probe.seen[0]);
    EXPECT_TRUE(probe.seen[1]);
    EXPECT_TRUE(tab->RE_Kiva_State->lineTexts().isEmpty());
}
