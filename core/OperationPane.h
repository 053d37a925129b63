#pragma once

#include "core/LogLine.h"

namespace sonoprog::core {

// Where an operation reports: the tab's log pane and its gauge. The window
// implements it with a rich-text pane and a gauge widget, the command line
// with a terminal, tests with a recorder.
class OperationPane {
public:
    virtual ~OperationPane() = default;
    virtual void clearLines() = 0;
    virtual void appendLine(const LogLine& line) = 0;
    // Percent 0..100; callers have clamped it already.
    virtual void setProgress(int percent) = 0;
};

// Disables (lock) or enables (unlock) the tab's control list, in its order.
class TabLock {
public:
    virtual ~TabLock() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

// Lets the window process its pending messages from inside a long loop.
class YieldHook {
public:
    virtual ~YieldHook() = default;
    virtual void yield() = 0;
};

class NoYield final : public YieldHook {
public:
    void yield() override {}
};

}  // namespace sonoprog::core
