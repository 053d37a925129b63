#pragma once

#include <string>

#include "core/LogLine.h"

namespace sonoprog::test {

// The lines an operation pane should hold, built the way the log helpers make them.
inline core::LogLine headingLine(const std::string& text) {
    return {core::LineKind::Heading, text, std::nullopt, true};
}
inline core::LogLine stepLine(const std::string& text) {
    return {core::LineKind::Step, text, std::nullopt, false};
}
inline core::LogLine passLine(const std::string& text) {
    return {core::LineKind::Pass, "    [O] " + text, core::kPassBlue, false};
}
inline core::LogLine failLine(const std::string& text) {
    return {core::LineKind::Fail, "    [X] " + text, core::kFailRed, false};
}
inline core::LogLine warnLine(const std::string& text) {
    return {core::LineKind::Warn, "    [!] " + text, core::kFailRed, false};
}

}  // namespace sonoprog::test
