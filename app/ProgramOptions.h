#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/WriterOption.h"

namespace sonoprog::app {

// The window program's command line. No arguments: the real Writer.
struct ProgramOptions {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    core::WriterOption writer;
    std::string error;  // Action::Error: one line for stderr
};

// Accepts "--writer X", "--writer=X", "--help"/"-h" and "--version". Qt's own
// options (-platform, -style, ...) are left to Qt and are passed over here.
ProgramOptions parseProgramOptions(const std::vector<std::string>& arguments);

std::string programHelpText(std::string_view programName);

}  // namespace sonoprog::app
