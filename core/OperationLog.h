#pragma once

#include <string_view>

#include "core/Clock.h"
#include "core/OperationPane.h"

namespace sonoprog::core {

// The helper set every writer tab logs through: result lines with their marks
// and colours, the bold heading, plain step lines, green time lines, and the
// gauge (clamped to 0..100).
class OperationLog {
public:
    explicit OperationLog(OperationPane& pane) : pane_(pane) {}

    void clear() { pane_.clearLines(); }
    void heading(std::string_view heading);                // "[ WRITE ]"
    void step(std::string_view text);                      // "  -> Chip detect..."
    void pass(std::string_view message);                   // "    [O] " + message, blue
    void fail(std::string_view message);                   // "    [X] " + message, red
    void warn(std::string_view message);                   // "    [!] " + message, red
    void time(std::string_view label, const std::tm& at);  // "Start: 04:50:07", green
    void progress(long long percent);
    void figures(const ProgressFigures& figures) { pane_.setProgressFigures(figures); }

    OperationPane& pane() { return pane_; }

private:
    OperationPane& pane_;
};

}  // namespace sonoprog::core
