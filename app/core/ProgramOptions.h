#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonoprog::core {

// What stands behind the link: the real Writer on USB, or the virtual Writer
// (blank chips, or kept in a folder between runs).
struct WriterOption {
    enum class Kind { Usb, Sim, SimDir };
    Kind kind = Kind::Usb;
    std::string folder;  // SimDir only
    friend bool operator==(const WriterOption&, const WriterOption&) = default;
};

// "usb", "sim" or "sim:DIR" (DIR not empty); nullopt for anything else.
std::optional<WriterOption> parseWriterOption(std::string_view text);

// The window program's command line. No arguments: the real Writer.
struct ProgramOptions {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    WriterOption writer;
    std::string error;  // Action::Error: one line for stderr
};

// Accepts "--writer X", "--writer=X", "--help"/"-h" and "--version". Qt's own
// options (-platform, -style, ...) are left to Qt and are passed over here.
ProgramOptions parseProgramOptions(const std::vector<std::string>& arguments);

std::string programHelpText(std::string_view programName);

}  // namespace sonoprog::core
