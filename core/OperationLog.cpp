#include "core/OperationLog.h"

#include <algorithm>
#include <string>

namespace sonoprog::core {

const char* lineKindName(LineKind kind) {
    switch (kind) {
        case LineKind::Heading: return "heading";
        case LineKind::Step: return "step";
        case LineKind::Pass: return "pass";
        case LineKind::Fail: return "fail";
        case LineKind::Warn: return "warn";
        case LineKind::Time: return "time";
    }
    return "step";
}

void OperationLog::heading(std::string_view heading) {
    pane_.appendLine({LineKind::Heading, std::string(heading), std::nullopt, true});
}

void OperationLog::step(std::string_view text) {
    pane_.appendLine({LineKind::Step, std::string(text), std::nullopt, false});
}

void OperationLog::pass(std::string_view message) {
    pane_.appendLine({LineKind::Pass, "    [O] " + std::string(message), kPassBlue, false});
}

void OperationLog::fail(std::string_view message) {
    pane_.appendLine({LineKind::Fail, "    [X] " + std::string(message), kFailRed, false});
}

void OperationLog::warn(std::string_view message) {
    pane_.appendLine({LineKind::Warn, "    [!] " + std::string(message), kFailRed, false});
}

void OperationLog::time(std::string_view label, const std::tm& at) {
    pane_.appendLine({LineKind::Time, std::string(label) + timeOfDay(at), kTimeGreen, false});
}

void OperationLog::progress(long long percent) {
    pane_.setProgress(static_cast<int>(std::clamp<long long>(percent, 0, 100)));
}

}  // namespace sonoprog::core
