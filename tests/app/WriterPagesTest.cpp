#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <map>
#include <memory>
#include <string>

#include "app/MainWindow.h"
#include "gui/WriterPage.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

// The three writer pages as the window shows them must keep one design: the
// same file row, row of fields, action column, log pane and gauge. These
// tests compare the pages with each other, so a page that is laid out on its
// own again shows up here.

using namespace sonoprog;
using app::MainWindow;
using Action = gui::WriterPage::Action;

namespace {

struct PageNames {
    const char* page;
    const char* loadField;
    const char* loadButton;
    const char* pane;
    const char* gauge;
    // The action buttons by role; nullptr where the page has no such action.
    const char* blank;
    const char* write;
    const char* verify;
    const char* extra;
};

constexpr PageNames kPages[] = {
    {"PAGE_Tarn_WRT", "ED_Tarn_LoadFile", "BT_Tarn_LoadFile", "RE_Tarn_State", "CG_Tarn_Progress",
     nullptr, "BT_Tarn_Write", "BT_Tarn_Verify", "BT_Tarn_Read"},
    {"PAGE_NOR_WRT", "ED_NOR_LoadFile", "BT_NOR_LoadFile", "RE_NOR_State", "CG_NOR_Progress",
     "BT_NOR_Blank", "BT_NOR_Write", "BT_NOR_Verify", nullptr},
    {"PAGE_Kiva_WRT", "ED_Kiva_LoadFile", "BT_Kiva_LoadFile", "RE_Kiva_State", "CG_Kiva_Progress",
     "BT_Kiva_Blank", "BT_Kiva_Write", "BT_Kiva_Verify", "BT_Kiva_AppNote"},
};

// Engineering mode shows every page and the Tarn20 engineering panel.
constexpr const char* kEngineering =
    "[System]\nVersion=Sonoprog V1.0.0\nEngMode=1\n[Device]\nD1=Tarn20\nD2=Kiva300\n"
    "D3=Series Flash\n";

struct WriterPagesTest : ::testing::Test {
    WriterPagesTest() {
        dir.write("Setup.ini", std::string(kEngineering));
        paths = core::AppPaths::forFolder(dir.path());
        window = std::make_unique<MainWindow>(writer, paths, prompter);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    QWidget* page(const PageNames& p) const {
        return window->findChild<QWidget*>(QString::fromLatin1(p.page));
    }
    template <typename T = QWidget>
    T* control(const PageNames& p, const char* name) const {
        return page(p)->findChild<T*>(QString::fromLatin1(name));
    }
    // A control's place in its page's coordinates (Read sits on a panel).
    QRect placeOf(const PageNames& p, const char* name) const {
        QWidget* w = control(p, name);
        return QRect(w->mapTo(page(p), QPoint(0, 0)), w->size());
    }

    test::TempDir dir;
    core::AppPaths paths;
    sim::VirtualWriter writer;
    test::RecordingPrompter prompter;
    std::unique_ptr<MainWindow> window;
};

}  // namespace

TEST_F(WriterPagesTest, FileRowPaneAndGaugeStandInTheSamePlaceOnEveryPage) {
    for (const PageNames& p : kPages) {
        SCOPED_TRACE(p.page);
        ASSERT_NE(page(p), nullptr);
        EXPECT_EQ(placeOf(p, p.loadField), gui::WriterPage::fileFieldRect());
        EXPECT_EQ(placeOf(p, p.loadButton), gui::WriterPage::loadButtonRect());
        EXPECT_EQ(control<QPushButton>(p, p.loadButton)->text(), "Load File");
        EXPECT_EQ(placeOf(p, p.pane), gui::WriterPage::paneRect());
        EXPECT_EQ(placeOf(p, p.gauge), gui::WriterPage::gaugeRect());
        // Compared with the first page too, so that a change of the template
        // alone cannot make the pages differ.
        EXPECT_EQ(placeOf(p, p.pane), placeOf(kPages[0], kPages[0].pane));
        EXPECT_EQ(placeOf(p, p.gauge).height(), placeOf(kPages[0], kPages[0].gauge).height());
    }
}

TEST_F(WriterPagesTest, ActionColumnHasOneWidthOneHeightAndOneOrder) {
    std::map<Action, QRect> byRole;
    for (const PageNames& p : kPages) {
        SCOPED_TRACE(p.page);
        const std::pair<Action, const char*> roles[] = {{Action::BlankCheck, p.blank},
                                                        {Action::Write, p.write},
                                                        {Action::Verify, p.verify},
                                                        {Action::Extra, p.extra}};
        const QRect load = placeOf(p, p.loadButton);
        int lastBottom = load.bottom();
        for (auto [role, name] : roles) {
            if (!name) continue;
            SCOPED_TRACE(name);
            const QRect r = placeOf(p, name);
            // One column: the x and size of Load File, top to bottom in role order.
            EXPECT_EQ(r.x(), load.x());
            EXPECT_EQ(r.size(), load.size());
            EXPECT_GT(r.top(), lastBottom);
            lastBottom = r.bottom();
            // A role stands where it stands on every other page.
            auto [it, first] = byRole.emplace(role, r);
            if (!first) {
                EXPECT_EQ(r, it->second);
            }
        }
    }
    // The column lies beside the pane, not over it.
    EXPECT_GT(byRole.at(Action::Write).left(), gui::WriterPage::paneRect().right());
}

TEST_F(WriterPagesTest, CaptionsAndFieldsShareOneStyle) {
    for (const PageNames& p : kPages) {
        SCOPED_TRACE(p.page);
        const auto labels = page(p)->findChildren<QLabel*>();
        ASSERT_FALSE(labels.isEmpty());
        for (QLabel* label : labels) {
            SCOPED_TRACE(label->objectName().toStdString());
            EXPECT_TRUE(label->objectName().startsWith("LB_"));
            // The figures beside the gauge are no caption: plain 13 px on the gauge's row.
            if (label->geometry() == gui::WriterPage::figuresRect()) {
                EXPECT_FALSE(label->font().bold());
                EXPECT_EQ(label->font().pixelSize(), 13);
                continue;
            }
            EXPECT_TRUE(label->font().bold());
            EXPECT_EQ(label->font().pixelSize(), 16);
            EXPECT_EQ(label->height(), gui::WriterPage::fileCaptionRect().height());
        }
        // Every one-line field is bold 13 px and as high as the file field,
        // and has its caption straight above it.
        for (QWidget* field : page(p)->findChildren<QWidget*>()) {
            if (!qobject_cast<QLineEdit*>(field) && !qobject_cast<QComboBox*>(field)) continue;
            if (field->parentWidget() != page(p)) continue;  // a combo box's own line edit
            SCOPED_TRACE(field->objectName().toStdString());
            EXPECT_TRUE(field->font().bold());
            EXPECT_EQ(field->font().pixelSize(), 13);
            EXPECT_EQ(field->height(), gui::WriterPage::fileFieldRect().height());
            const QString captionName = "LB" + field->objectName().mid(2);
            auto* caption = page(p)->findChild<QLabel*>(captionName);
            ASSERT_NE(caption, nullptr) << captionName.toStdString();
            EXPECT_EQ(caption->x(), field->x());
            EXPECT_LT(caption->geometry().bottom(), field->y());
            EXPECT_GE(caption->geometry().bottom(), field->y() - 4);
        }
    }
}

TEST_F(WriterPagesTest, EveryControlFitsItsPageAndNoneOverlapsAnother) {
    for (const PageNames& p : kPages) {
        SCOPED_TRACE(p.page);
        // A page gets its size from the tab control when it is shown.
        window->PC_Main->setCurrentWidget(page(p));
        QTest::qWait(0);
        const QRect area = page(p)->rect();
        EXPECT_GE(area.width(), gui::WriterPage::gaugeRect().right());
        const auto children = page(p)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* a : children) {
            SCOPED_TRACE(a->objectName().toStdString());
            EXPECT_TRUE(area.contains(a->geometry()))
                << "page " << area.width() << "x" << area.height();
            for (QWidget* b : children)
                if (a != b && a->isVisibleTo(page(p)) && b->isVisibleTo(page(p))) {
                    EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                        << b->objectName().toStdString();
                }
        }
    }
}

TEST_F(WriterPagesTest, TheRowOfFieldsHoldsWhatEachPageShows) {
    // One row, in the same slots: the file's size and check sum first.
    const QRect sizeSlot = gui::WriterPage::fieldRect(0);
    const QRect sumSlot = gui::WriterPage::fieldRect(1);
    EXPECT_EQ(placeOf(kPages[0], "ED_Tarn_FileSize"), sizeSlot);
    EXPECT_EQ(placeOf(kPages[0], "ED_Tarn_ChkSum"), sumSlot);
    EXPECT_EQ(placeOf(kPages[1], "ED_NOR_FileSize"), sizeSlot);
    EXPECT_EQ(placeOf(kPages[1], "ED_NOR_ChkSum"), sumSlot);
    EXPECT_EQ(placeOf(kPages[2], "ED_Kiva_ChkSum"), sizeSlot);
    for (const char* name :
         {"ED_Tarn_PageBeg", "ED_Tarn_PageCnt", "ED_Tarn_InfoPage", "ED_Tarn_AllowError"})
        EXPECT_EQ(placeOf(kPages[0], name).y(), sizeSlot.y()) << name;
    EXPECT_EQ(placeOf(kPages[1], "CB_NOR_Device").y(), sizeSlot.y());
    EXPECT_EQ(placeOf(kPages[1], "ED_NOR_MemSize").y(), sizeSlot.y());
    // The product's captions of the Tarn20 range and of the DAT Info memo.
    const std::pair<const char*, const char*> captions[] = {{"LB_Tarn_PageBeg", "Start Page"},
                                                            {"LB_Tarn_PageCnt", "Write Page"},
                                                            {"LB_Tarn_InfoPage", "Info Page"},
                                                            {"LB_Tarn_AllowError", "Allow Error"}};
    for (auto [name, text] : captions)
        EXPECT_EQ(control<QLabel>(kPages[0], name)->text(), text) << name;
    EXPECT_EQ(control<QLabel>(kPages[2], "LB_Kiva_DatInfo")->text(), "DAT Info");
    EXPECT_TRUE(control<QPlainTextEdit>(kPages[2], "ME_Kiva_DatInfo")->isReadOnly());
}
