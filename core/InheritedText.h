#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sonoprog::core {

// A text handed to a child process through a descriptor it inherits rather
// than on its command line, which any local user reads (`ps`): how a worker
// gets a records address that may hold a password.
//
// The read end of a pipe that already holds `text` (its write end closed),
// close-on-exec; -1 when no pipe can be had or the text is longer than a
// pipe holds without a reader. The child's side of the fork clears
// close-on-exec (keepAcrossExec) and passes the number on; the parent closes
// its copy once the child has started.
int inheritedTextPipe(std::string_view text);
// In the child between fork and exec (async-signal-safe).
bool keepAcrossExec(int fd);

// The whole text at descriptor `fd`, which is closed; nullopt when `fd` is
// no open descriptor or reading fails.
std::optional<std::string> readInheritedText(int fd);

}  // namespace sonoprog::core
