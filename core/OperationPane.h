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

}  // namespace sonoprog::core
