#pragma once

#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <vector>

#include "core/OperationPane.h"
#include "core/StopCheck.h"
#include "core/TabLock.h"

namespace sonoprog::gui {

// A tab's lock and unlock helpers: disable / enable its control list, in the
// list's order, without looking at the present state.
//
// A tab control in the list is locked at its tabs: the tab bar is disabled and
// the keyboard cannot switch pages, so the operator cannot leave the page,
// while the page itself keeps its look (the log pane stays white and its
// lines readable; the page's own inputs are in the list and lock themselves).
class ControlLock final : public core::TabLock {
public:
    ControlLock();
    explicit ControlLock(std::vector<QWidget*> controls);
    ~ControlLock() override;
    void setControls(std::vector<QWidget*> controls);
    void lock() override;
    void unlock() override;

    // Whether a control of a lock list is locked (for a tab control: its tabs).
    static bool isLocked(const QWidget& control);

private:
    std::vector<QPointer<QWidget>> controls_;
    // Keeps Ctrl+Tab from switching the pages of a locked tab control.
    std::unique_ptr<QObject> pageSwitchGuard_;
};

// The lock an operation takes: the tab's control list, and the Stop button
// shown (with a fresh stop flag) for as long as the controls are locked.
class StoppableLock final : public core::TabLock {
public:
    StoppableLock(ControlLock& controls, core::StopFlag& stop) : controls_(controls), stop_(stop) {}
    void setStopButton(QPushButton* button) { button_ = button; }
    bool hasStopButton() const { return !button_.isNull(); }
    void lock() override;
    void unlock() override;

private:
    ControlLock& controls_;
    core::StopFlag& stop_;
    QPointer<QPushButton> button_;
};

}  // namespace sonoprog::gui
