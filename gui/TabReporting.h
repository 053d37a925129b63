#pragma once

#include <QWidget>
#include <vector>

#include "core/OperationLog.h"
#include "core/OperationServices.h"
#include "gui/ControlLock.h"
#include "gui/LogPane.h"
#include "gui/QtServices.h"

namespace sonoprog::gui {

// What a writer tab reports through: its pane and gauge behind the
// operation-pane interface, the shared log helpers over them, and the lock
// over the tab's control list.
class TabReporting {
public:
    TabReporting(LogPane& pane, Gauge& gauge, std::vector<QWidget*> lockList)
        : adapter_(pane, gauge), log_(adapter_), lock_(std::move(lockList)) {}
    TabReporting(const TabReporting&) = delete;
    TabReporting& operator=(const TabReporting&) = delete;

    core::OperationLog& log() { return log_; }
    ControlLock& lock() { return lock_; }

    // What the tab's operations run on: this pane and lock, the window's
    // services and its Writer.
    core::OperationServices services(const TabEnvironment& env) {
        return {log_, lock_, env.yield, env.prompter, env.clock, env.paths, &env.link};
    }

private:
    PaneAdapter adapter_;
    core::OperationLog log_;
    ControlLock lock_;
};

}  // namespace sonoprog::gui
