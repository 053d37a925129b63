#pragma once

#include "core/LogLine.h"
#include "core/ProgressFigures.h"

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
    // Where a long loop stands (done of total, elapsed, time left), beside the
    // gauge; a pane without room for it ignores it.
    virtual void setProgressFigures(const ProgressFigures& figures) { (void)figures; }
};

}  // namespace sonoprog::core
