#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QWheelEvent>
#include <functional>

#include "core/WriterLink.h"
#include "core/YieldHook.h"
#include "editor/EditorPage.h"
#include "tests/editor/EditorFixture.h"

namespace sonoprog::test {
namespace {

class NoWriter final : public core::WriterLink {
public:
    bool Exchange(const core::Packet&, core::Packet&) override { return false; }
    bool BulkWrite(const std::uint8_t*, std::size_t) override { return false; }
    bool BulkRead(std::uint8_t*, std::size_t) override { return false; }
};

class ProbeYield final : public core::YieldHook {
public:
    void yield() override {
        if (probe) probe();
    }
    std::function<void()> probe;
};

// The main window's part the page needs: the page control with an
// Information page and the Sound Editor, and the device selector.
class EditorTabTest : public ::testing::Test {
protected:
    EditorTabTest()
        : paths(core::AppPaths::forFolder(dir.path())), env{nullptr, nullptr, prompter, files,
                                                            yield,   clock,   writer,   paths} {
        paths.ensureTemp();
        window.resize(787, 566);
        pcMain = new QTabWidget(&window);
        pcMain->setObjectName("PC_Main");
        pcMain->setGeometry(5, 5, 775, 555);
        deviceSel = new QComboBox(&window);
        deviceSel->setObjectName("CB_DeviceSel");
        deviceSel->setGeometry(520, 5, 120, 24);
        env.pcMain = pcMain;
        env.deviceSel = deviceSel;
        info = new QWidget;
        tab = new editor::EditorPage(env);
        pcMain->addTab(info, "Information");
        pcMain->addTab(tab, "Sound Editor");
        pcMain->setCurrentWidget(tab);
    }

    template <class T>
    T* control(const char* name) {
        T* w = tab->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QPushButton* button(const char* name) { return control<QPushButton>(name); }
    QString hint() { return control<QLineEdit>("ED_Edit_Hint")->text(); }
    QTableView* grid() { return control<QTableView>("SG_SoundTable"); }
    QVariant colour(int tableRow, int column) {
        return grid()->model()->index(tableRow - 1, column).data(Qt::ForegroundRole);
    }
    void showActive() {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    std::string wave(const std::string& name, std::size_t samples) {
        return dir.write(name, waveBytes(rampSamples(samples))).string();
    }

    TempDir dir;
    core::AppPaths paths;
    RecordingPrompter prompter;
    ScriptedFileChooser files;
    ProbeYield yield;
    FixedClock clock;
    NoWriter writer;
    gui::TabEnvironment env;
    QWidget window;
    QTabWidget* pcMain = nullptr;
    QComboBox* deviceSel = nullptr;
    QWidget* info = nullptr;
    editor::EditorPage* tab = nullptr;
};

TEST_F(EditorTabTest, PageHoldsItsControlsInTheirFirstState) {
    for (const char* name : {"PN_Edit_1", "PN_Edit_2", "PN_Edit_3", "ED_Edit_MemUsg",
                             "ED_Edit_HstRate", "ED_Edit_LstSec", "ED_Edit_Hint"})
        EXPECT_NE(tab->findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(button("BT_Edit_ScpSave")->text(), "Save Project");
    EXPECT_EQ(button("BT_Edit_ScpBuild")->text(), "Make DAT File");
    EXPECT_EQ(button("BT_Edit_SecAdd")->text(), "Add / Replace");
    EXPECT_FALSE(button("BT_Edit_SecRMov")->isEnabled());
    EXPECT_FALSE(button("BT_Edit_SecUp")->isEnabled());
    EXPECT_FALSE(button("BT_Edit_SecDn")->isEnabled());
    EXPECT_TRUE(button("BT_Edit_SecClr")->isEnabled());
    EXPECT_EQ(control<QLineEdit>("ED_Edit_MemUsg")->text(), "0");
    EXPECT_EQ(hint(), "");

    QTableView* g = grid();
    EXPECT_EQ(g->width(), 640);
    EXPECT_EQ(g->model()->rowCount(), 1024);
    EXPECT_EQ(g->model()->columnCount(), 5);
    const int widths[] = {70, 50, 70, 425, 425};
    for (int c = 0; c < 5; ++c) EXPECT_EQ(g->columnWidth(c), widths[c]);
    EXPECT_EQ(g->rowHeight(0), 16);
    EXPECT_EQ(g->rowHeight(1023), 16);
    EXPECT_EQ(g->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(g->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(g->showGrid());
    EXPECT_EQ(g->model()->headerData(1, Qt::Horizontal).toString(), "Rate(Hz)");
    EXPECT_EQ(g->model()->index(1023, 0).data().toString(), "Section 1023");
    EXPECT_EQ(g->currentIndex().row(), 0);
    EXPECT_EQ(tab->findChild<QObject*>("AC_QuickKey")->children().size(), 8);
}

// Red pixels of one cell as the grid's delegate draws it.
int redPixels(QTableView* grid, int tableRow, int column, bool selected) {
    const QModelIndex index = grid->model()->index(tableRow - 1, column);
    QStyleOptionViewItem opt;
    opt.initFrom(grid->viewport());
    opt.widget = grid;
    opt.font = grid->font();
    opt.rect = QRect(0, 0, grid->columnWidth(column), grid->rowHeight(index.row()));
    opt.state = QStyle::State_Enabled | QStyle::State_Active;
    if (selected) opt.state |= QStyle::State_Selected;
    QImage image(opt.rect.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    grid->itemDelegate()->paint(&painter, opt, index);
    painter.end();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 180 && c.green() < 90 && c.blue() < 90) ++red;
        }
    return red;
}

TEST_F(EditorTabTest, TextsFitTheirCellsAndLabels) {
    QTableView* g = grid();
    const QFontMetrics cells(g->font());
    // The text stands 2 pixels in from the cell's edge and ends before its grid line.
    EXPECT_LE(cells.horizontalAdvance("Section 1023") + 2, 70 - 1);
    EXPECT_LE(cells.horizontalAdvance("Rate(Hz)") + 2, 50 - 1);
    EXPECT_LE(cells.height(), 16);
    for (QLabel* label : control<QWidget>("PN_Edit_3")->findChildren<QLabel*>()) {
        const QSize need = label->wordWrap()
                               ? QSize(label->width(), label->heightForWidth(label->width()))
                               : label->sizeHint();
        EXPECT_LE(need.width(), label->width()) << label->text().toStdString();
        EXPECT_LE(need.height(), label->height()) << label->text().toStdString();
        EXPECT_LE(label->geometry().bottom(), label->buddy()->geometry().top());
    }
}

TEST_F(EditorTabTest, RedRowsAreDrawnRedAndTheStatusColumnStaysOutOfSight) {
    showActive();
    tab->table().setCell(3, editor::kColRate, "8000");
    tab->table().setCell(3, editor::kColSize, "10");
    tab->table().setCell(3, editor::kColFile, "/a.wav");
    tab->table().setCell(3, editor::kColStatus, "The wave rate is different from before!");
    QTableView* g = grid();
    for (int c = 0; c < 4; ++c) {
        EXPECT_GT(redPixels(g, 3, c, false), 0) << c;
        EXPECT_GT(redPixels(g, 3, c, true), 0) << c;  // selected, still red
    }
    EXPECT_EQ(redPixels(g, 3, editor::kColStatus, false), 0);
    EXPECT_EQ(redPixels(g, 2, 0, false), 0);

    // Neither the keyboard nor a sideways wheel scrolls the grid across.
    g->setFocus();
    for (int i = 0; i < 5; ++i) QTest::keyClick(g, Qt::Key_Right);
    const QPoint at = g->viewport()->rect().center();
    QWheelEvent sideways(at, g->viewport()->mapToGlobal(at), QPoint(), QPoint(-480, 0),
                         Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(g->viewport(), &sideways);
    EXPECT_EQ(g->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(g->columnViewportPosition(0), 0);
}

TEST_F(EditorTabTest, RedRowsFollowUpAndDownAndShowTheirText) {
    showActive();
    files.multiAnswers.push_back({wave("a.wav", 10), wave("b.wav", 20)});
    tab->SG_SoundTableSelectCell(4);
    QTest::mouseClick(button("BT_Edit_SecAdd"), Qt::LeftButton);
    tab->table().setCell(4, editor::kColStatus, "The wave size is different from before!");
    for (int c = 0; c < 5; ++c) EXPECT_EQ(colour(4, c).value<QColor>(), QColor(255, 0, 0));
    EXPECT_FALSE(colour(5, 0).isValid());

    grid()->setCurrentIndex(grid()->model()->index(3, 1));  // the operator picks section 3
    EXPECT_EQ(hint(), "The wave size is different from before!");
    QTest::mouseClick(button("BT_Edit_SecDn"), Qt::LeftButton);
    EXPECT_EQ(grid()->currentIndex().row(), 4);
    EXPECT_EQ(colour(5, 3).value<QColor>(), QColor(255, 0, 0));
    EXPECT_FALSE(colour(4, 3).isValid());
    EXPECT_EQ(hint(), "The wave size is different from before!");
    QTest::mouseClick(button("BT_Edit_SecUp"), Qt::LeftButton);
    QTest::mouseClick(button("BT_Edit_SecUp"), Qt::LeftButton);
    EXPECT_EQ(grid()->currentIndex().row(), 2);
    EXPECT_EQ(colour(3, 0).value<QColor>(), QColor(255, 0, 0));
    EXPECT_FALSE(colour(5, 0).isValid());

    grid()->setCurrentIndex(grid()->model()->index(9, 0));
    EXPECT_EQ(hint(), "Double click to add or replace wave file.");
    EXPECT_FALSE(button("BT_Edit_SecRMov")->isEnabled());
}

TEST_F(EditorTabTest, QuickKeysWorkOnlyOnTheActivePageAndWithTheirButton) {
    auto a = wave("a.wav", 10);
    auto b = wave("b.wav", 10);
    showActive();
    pcMain->setCurrentWidget(info);
    files.multiAnswers.push_back({a});
    QTest::keyClick(&window, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(files.requests.empty());

    pcMain->setCurrentWidget(tab);
    QTest::keyClick(&window, Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_EQ(tab->table().cell(1, editor::kColFile), a);

    // Section 0 is current: Up is disabled, so Ctrl+U never reaches the heading row.
    QTest::keyClick(&window, Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(tab->table().cell(1, editor::kColFile), a);
    EXPECT_EQ(tab->table().cell(0, 0), "Section No.");

    QTest::keyClick(&window, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(tab->table().cell(2, editor::kColFile), a);
    EXPECT_EQ(tab->table().currentRow(), 2);

    // An empty section: Remove is disabled and Ctrl+R leaves the table alone.
    tab->SG_SoundTableSelectCell(9);
    tab->table().setCell(9, editor::kColRate, "stray");
    QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(tab->table().cell(9, editor::kColRate), "stray");

    prompter.answers = {true};
    QTest::keyClick(&window, Qt::Key_C, Qt::ControlModifier);
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text, "Do you want to clear all of section?");
    EXPECT_FALSE(tab->table().isUsed(2));

    files.saveAnswers.push_back((dir / "p.log").string());
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(std::filesystem::exists(dir / "p.log"));
    files.multiAnswers.push_back({b});
    pcMain->setCurrentWidget(info);
    QTest::keyClick(&window, Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(files.requests.size(), 2u);
}

TEST_F(EditorTabTest, QuickKeysReachTheirCommandWhileTheGridHasTheFocus) {
    showActive();
    files.multiAnswers.push_back({wave("a.wav", 10), wave("b.wav", 10)});
    tab->BT_Edit_SecAddClick();
    grid()->setFocus();
    ASSERT_TRUE(grid()->hasFocus());
    QTest::keyClick(grid(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(tab->table().currentRow(), 2);
    prompter.answers = {false};
    QTest::keyClick(grid(), Qt::Key_C, Qt::ControlModifier);
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].caption, "WARNING");
    EXPECT_TRUE(tab->table().isUsed(1));

    tab->prepareTable();  // start-up's fill empties the table again
    EXPECT_FALSE(tab->table().isUsed(1));
    EXPECT_EQ(grid()->currentIndex().row(), 0);
}

TEST_F(EditorTabTest, SaveLoadAndBuildKeepThePageLocked) {
    files.multiAnswers.push_back({wave("a.wav", 3000)});
    tab->BT_Edit_SecAddClick();
    int breaths = 0;
    int unlocked = 0;
    yield.probe = [&] {
        ++breaths;
        for (const char* name :
             {"BT_Edit_ScpSave", "BT_Edit_ScpLoad", "BT_Edit_ScpBuild", "BT_Edit_SecAdd",
              "BT_Edit_SecRMov", "BT_Edit_SecUp", "BT_Edit_SecDn", "BT_Edit_SecClr"})
            if (tab->findChild<QPushButton*>(name)->isEnabled()) ++unlocked;
        if (deviceSel->isEnabled() || pcMain->isEnabled()) ++unlocked;
    };
    files.saveAnswers.push_back((dir / "p.log").string());
    tab->BT_Edit_ScpSaveClick();
    files.openAnswers.push_back((dir / "p.log").string());
    tab->BT_Edit_ScpLoadClick();
    files.saveAnswers.push_back((dir / "o.bin").string());
    tab->BT_Edit_ScpBuildClick();
    EXPECT_GE(breaths, 3 * 1024);
    EXPECT_EQ(unlocked, 0);
    EXPECT_EQ(std::filesystem::file_size(dir / "o.bin"), 17408u + 3072);
    EXPECT_TRUE(pcMain->isEnabled());
    EXPECT_TRUE(deviceSel->isEnabled());
    EXPECT_TRUE(button("BT_Edit_SecRMov")->isEnabled());
    EXPECT_FALSE(button("BT_Edit_SecUp")->isEnabled());
    EXPECT_EQ(hint(), "Done!");
}

TEST_F(EditorTabTest, HoverShowsEachControlsHint) {
    const std::pair<const char*, const char*> hints[] = {
        {"BT_Edit_ScpSave", "Click this button or \"CTL + S\" to save script file."},
        {"BT_Edit_ScpLoad", "Click this button or \"CTL + L\" to load script file."},
        {"BT_Edit_ScpBuild", "Click this button or \"CTL + B\" to build dat file."},
        {"BT_Edit_SecAdd", "Click this button or \"CTL + A\" to add or replace wave file."},
        {"BT_Edit_SecRMov", "Click this button or \"CTL + R\" to remove wave file."},
        {"BT_Edit_SecUp",
         "Click this button or \"CTL + U\" to swap section with previous section."},
        {"BT_Edit_SecDn", "Click this button or \"CTL + D\" to swap section with next section."},
        {"BT_Edit_SecClr", "Click this button or \"CTL + C\" to clear wave table."},
        {"ED_Edit_MemUsg", "Total memory usage."},
        {"ED_Edit_LstSec", "Number of last section in this script."},
        {"ED_Edit_HstRate", "The highest  sample rate in this script."},
    };
    for (const auto& [name, text] : hints) {
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(control<QWidget>(name), &enter);
        EXPECT_EQ(hint(), QString::fromLatin1(text)) << name;
    }
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(control<QWidget>("ED_Edit_HstRate"), &leave);
    EXPECT_EQ(hint(), "The highest  sample rate in this script.");
}

TEST_F(EditorTabTest, DoubleClickAddsAtTheClickedRow) {
    showActive();
    files.multiAnswers.push_back({wave("a.wav", 1000)});
    QTableView* g = grid();
    QRect cell = g->visualRect(g->model()->index(2, 1));
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_TRUE(tab->table().isUsed(3));
    EXPECT_EQ(control<QLineEdit>("ED_Edit_MemUsg")->text(), "18432");
    EXPECT_EQ(control<QLineEdit>("ED_Edit_LstSec")->text(), "2");
}

}  // namespace
}  // namespace sonoprog::test
