#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "gui/ControlLock.h"

using namespace sonoprog;

namespace {

// A window like the program's: a tab control whose page holds a button of the
// lock list and a read-only field that is not in it.
struct LockFixture : ::testing::Test {
    QWidget window;
    QTabWidget* tabs = new QTabWidget(&window);
    QWidget* page = new QWidget;
    QWidget* other = new QWidget;
    QPushButton* button = new QPushButton(QStringLiteral("Load File"), page);
    QLineEdit* field = new QLineEdit(page);
    QPushButton* selector = new QPushButton(QStringLiteral("Device"), &window);
    gui::ControlLock lock{{button, selector, tabs}};

    LockFixture() {
        tabs->addTab(page, QStringLiteral("Series Flash Writer"));
        tabs->addTab(other, QStringLiteral("Sound Editor"));
        field->setReadOnly(true);
        window.resize(400, 300);
        window.show();
        button->setFocus();
    }

    void pressCtrlTab(Qt::KeyboardModifiers extra = {}) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : button,
                        Qt::Key_Tab, Qt::ControlModifier | extra);
    }
};

}  // namespace

TEST_F(LockFixture, LocksTheListedControlsAndTheTabsButNotThePage) {
    lock.lock();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(selector->isEnabled());
    // The tabs are locked; the page and what is not in the list keep their look.
    EXPECT_FALSE(tabs->tabBar()->isEnabled());
    EXPECT_TRUE(tabs->isEnabled());
    EXPECT_TRUE(page->isEnabled());
    EXPECT_TRUE(field->isEnabled());
    EXPECT_TRUE(gui::ControlLock::isLocked(*tabs));
    EXPECT_TRUE(gui::ControlLock::isLocked(*button));
    EXPECT_FALSE(gui::ControlLock::isLocked(*field));

    lock.unlock();
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(selector->isEnabled());
    EXPECT_TRUE(tabs->tabBar()->isEnabled());
    EXPECT_FALSE(gui::ControlLock::isLocked(*tabs));
}

TEST_F(LockFixture, UnlockEnablesWhatWasDisabledForAnotherReason) {
    selector->setEnabled(false);
    tabs->tabBar()->setEnabled(false);
    lock.unlock();
    EXPECT_TRUE(selector->isEnabled());
    EXPECT_TRUE(tabs->tabBar()->isEnabled());
}

TEST_F(LockFixture, TheKeyboardCannotLeaveALockedPage) {
    field->setFocus();
    lock.lock();
    pressCtrlTab();
    EXPECT_EQ(tabs->currentWidget(), page);
    pressCtrlTab(Qt::ShiftModifier);
    EXPECT_EQ(tabs->currentWidget(), page);
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(1).center());
    EXPECT_EQ(tabs->currentWidget(), page);

    // Unlocked, the same key and click switch pages again.
    lock.unlock();
    field->setFocus();
    pressCtrlTab();
    EXPECT_EQ(tabs->currentWidget(), other);
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(0).center());
    EXPECT_EQ(tabs->currentWidget(), page);
}

TEST_F(LockFixture, ControlsThatAreGoneAreSkipped) {
    delete button;
    button = nullptr;
    lock.lock();
    EXPECT_FALSE(selector->isEnabled());
    lock.unlock();
    EXPECT_TRUE(selector->isEnabled());
}
