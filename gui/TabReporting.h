#pragma once

#include <QWidget>
#include <vector>

#include "core/OperationLog.h"
#include "core/OperationServices.h"
#include "core/StopCheck.h"
#include "gui/ControlLock.h"
#include "gui/LogPane.h"
#include "gui/QtServices.h"

namespace sonoprog::gui {

// What a writer tab reports through: its pane, gauge and figures line behind
// the operation-pane interface, the shared log helpers over them, the lock
// over the tab's control list and, where the tab has long work, its Stop.
class TabReporting {
public:
    TabReporting(LogPane& pane, Gauge& gauge, std::vector<QWidget*> lockList,
                 QLabel* figures = nullptr)
        : adapter_(pane, gauge, figures),
          log_(adapter_),
          lock_(std::move(lockList)),
          operationLock_(lock_, stop_) {}
    TabReporting(const TabReporting&) = delete;
    TabReporting& operator=(const TabReporting&) = delete;

    core::OperationLog& log() { return log_; }
    ControlLock& lock() { return lock_; }
    // The Stop button: shown while an operation runs, it sets the stop flag.
    void setStopButton(QPushButton* button) { operationLock_.setStopButton(button); }
    // Stop and Esc: the running operation ends at its next step boundary.
    void requestStop() { stop_.request(); }

    // What the tab's operations run on: this pane and lock, the window's
    // services and its Writer, and the Stop when the tab has one.
    core::OperationServices services(const TabEnvironment& env) {
        core::OperationServices s{log_,      operationLock_, env.yield, env.prompter,
                                  env.clock, env.paths,      &env.link};
        if (operationLock_.hasStopButton()) s.stop = &stop_;
        return s;
    }

private:
    PaneAdapter adapter_;
    core::OperationLog log_;
    ControlLock lock_;
    core::StopFlag stop_;
    StoppableLock operationLock_;
};

}  // namespace sonoprog::gui
