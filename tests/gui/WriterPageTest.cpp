#include <gtest/gtest.h>

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/ControlLock.h"
#include "gui/Gauge.h"
#include "gui/LogPane.h"
#include "gui/WriterPage.h"
#include "link/Link.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;
using gui::WriterPage;
using Action = WriterPage::Action;

namespace {

// A page made the way the chip pages make theirs.
class SamplePage final : public WriterPage {
public:
    SamplePage() : WriterPage("PAGE_Sample", "RE_Sample_State", "CG_Sample_Progress", nullptr) {
        file = addFileField("ED_Sample_LoadFile", "BIN File");
        load = addLoadButton("BT_Sample_LoadFile");
        size = addField("ED_Sample_FileSize", "File Size", 0);
        start = addField("ED_Sample_PageBeg", "Start Page", 1, 1, false, "0");
        list = addListField("CB_Sample_Device", "Device", 2, 2);
        write = addAction("BT_Sample_Write", "Write", Action::Write);
        panel = new QFrame(this);
        panel->setGeometry(actionRect(Action::Extra));
        read = addAction("BT_Sample_Read", "Read", Action::Extra, panel);
        stop = addStopButton("BT_Sample_Stop");
        makeReporting({load, write, start});
    }
    using WriterPage::report;

    QLineEdit* file;
    QPushButton* load;
    QLineEdit* size;
    QLineEdit* start;
    QComboBox* list;
    QPushButton* write;
    QFrame* panel;
    QPushButton* read;
    QPushButton* stop;
};

}  // namespace

TEST(WriterPageTest, TheTemplatesPlacesDoNotOverlapAndFitTheTabPage) {
    // The tab control's client area: 775 x 555 less the tab row and frame.
    const QRect tabPage(0, 0, 769, 527);
    std::vector<QRect> places = {WriterPage::fileFieldRect(), WriterPage::loadButtonRect(),
                                 WriterPage::paneRect(),      WriterPage::gaugeRect(),
                                 WriterPage::figuresRect(),   WriterPage::sideFieldRect()};
    for (int slot = 0; slot < WriterPage::kFieldSlots; ++slot)
        places.push_back(WriterPage::fieldRect(slot));
    for (Action a : {Action::BlankCheck, Action::Write, Action::Verify, Action::Extra})
        places.push_back(WriterPage::actionRect(a));
    for (std::size_t i = 0; i < places.size(); ++i) {
        EXPECT_TRUE(tabPage.contains(places[i])) << i;
        for (std::size_t j = i + 1; j < places.size(); ++j)
            EXPECT_FALSE(places[i].intersects(places[j])) << i << " and " << j;
    }
    // A field spanning slots covers exactly those slots and the gaps between.
    EXPECT_EQ(WriterPage::fieldRect(2, 2), WriterPage::fieldRect(2) | WriterPage::fieldRect(3));
    // The last slot ends where the file field and the pane end.
    EXPECT_EQ(WriterPage::fieldRect(WriterPage::kFieldSlots - 1).right(),
              WriterPage::fileFieldRect().right());
    EXPECT_EQ(WriterPage::paneRect().right(), WriterPage::fileFieldRect().right());
    // Captions stand above what they name.
    EXPECT_LT(WriterPage::fileCaptionRect().bottom(), WriterPage::fileFieldRect().top());
    EXPECT_LT(WriterPage::fieldCaptionRect(3).bottom(), WriterPage::fieldRect(3).top());
    EXPECT_LT(WriterPage::sideCaptionRect().bottom(), WriterPage::sideFieldRect().top());
    EXPECT_GT(WriterPage::sideCaptionRect().top(), WriterPage::actionRect(Action::Extra).bottom());
    // The figures share the gauge's row; Stop stands at the column's foot,
    // over the side field of a page without long work only.
    EXPECT_EQ(WriterPage::figuresRect().top(), WriterPage::gaugeRect().top());
    EXPECT_EQ(WriterPage::figuresRect().right(), WriterPage::loadButtonRect().right());
    EXPECT_TRUE(tabPage.contains(WriterPage::stopRect()));
    for (const QRect& place : places)
        if (place != WriterPage::sideFieldRect()) {
            EXPECT_FALSE(place.intersects(WriterPage::stopRect()));
        }
}

TEST(WriterPageTest, ControlsAreNamedCaptionedAndPlaced) {
    SamplePage page;
    EXPECT_EQ(page.objectName(), "PAGE_Sample");
    EXPECT_EQ(page.pane()->objectName(), "RE_Sample_State");
    EXPECT_EQ(page.gauge()->objectName(), "CG_Sample_Progress");
    EXPECT_EQ(page.load->text(), "Load File");
    // Captions carry their field's name with LB_, whatever its own prefix.
    const std::pair<const char*, const char*> captions[] = {{"LB_Sample_LoadFile", "BIN File"},
                                                            {"LB_Sample_FileSize", "File Size"},
                                                            {"LB_Sample_PageBeg", "Start Page"},
                                                            {"LB_Sample_Device", "Device"}};
    for (auto [name, text] : captions) {
        auto* label = page.findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text(), text);
    }
    EXPECT_EQ(page.list->geometry(), WriterPage::fieldRect(2, 2));
    EXPECT_FALSE(page.list->isEditable());
    // Shown fields stay out of the focus chain; fields the operator types in do not.
    EXPECT_TRUE(page.file->isReadOnly());
    EXPECT_EQ(page.file->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(page.size->isReadOnly());
    EXPECT_FALSE(page.start->isReadOnly());
    EXPECT_NE(page.start->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(page.start->text(), "0");
    // A button on a panel of its own fills the panel, which stands on its slot.
    EXPECT_EQ(page.read->parentWidget(), page.panel);
    EXPECT_EQ(QRect(page.read->mapTo(&page, QPoint(0, 0)), page.read->size()),
              WriterPage::actionRect(Action::Extra));
}

TEST(WriterPageTest, TheLockSwitchesThePagesListAndTheLogWritesItsPane) {
    SamplePage page;
    page.report().lock().lock();
    EXPECT_FALSE(page.load->isEnabled());
    EXPECT_FALSE(page.write->isEnabled());
    EXPECT_FALSE(page.start->isEnabled());
    EXPECT_TRUE(page.read->isEnabled());  // not in the list
    page.report().lock().unlock();
    EXPECT_TRUE(page.load->isEnabled());
    EXPECT_TRUE(page.start->isEnabled());
    page.report().log().pass("Passed!");
    EXPECT_EQ(page.pane()->lineTexts(), QStringList{"    [O] Passed!"});
}

TEST(WriterPageTest, AnOperationsLockShowsStopAndItsServicesSeeTheStopAndTheFigures) {
    SamplePage page;
    test::FixedClock clock;
    core::NoYield yield;
    test::RecordingPrompter prompter;
    test::ScriptedFileChooser files;
    core::AppPaths paths = core::AppPaths::forFolder("/nonexistent");
    sim::VirtualWriter writer;
    link::Link link{writer, prompter};
    gui::TabEnvironment env{nullptr, nullptr, prompter, files, yield, clock, link, paths};
    const core::OperationServices s = page.report().services(env);
    ASSERT_NE(s.stop, nullptr);
    auto* figures = page.findChild<QLabel*>("LB_Sample_Progress");
    ASSERT_NE(figures, nullptr);

    EXPECT_FALSE(page.stop->isVisibleTo(&page));
    s.lock.lock();
    EXPECT_TRUE(page.stop->isVisibleTo(&page));
    EXPECT_TRUE(page.stop->isEnabled());
    EXPECT_FALSE(page.write->isEnabled());
    EXPECT_FALSE(s.stop->stopRequested());
    page.stop->click();
    EXPECT_TRUE(s.stop->stopRequested());
    s.log.figures({core::ProgressUnit::Bytes, 48, 1048576, 1.0, 20.5});
    EXPECT_EQ(figures->text(),
              QString::fromUtf8("48 of 1,048,576 bytes \u00B7 0:01 elapsed \u00B7 0:21 left"));
    s.lock.unlock();
    EXPECT_FALSE(page.stop->isVisibleTo(&page));
    EXPECT_TRUE(page.write->isEnabled());
    // The next operation starts with no stop and no figures of the last one.
    s.lock.lock();
    s.log.clear();
    EXPECT_FALSE(s.stop->stopRequested());
    EXPECT_TRUE(figures->text().isEmpty());
    s.lock.unlock();
}
