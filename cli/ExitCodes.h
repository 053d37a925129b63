#pragma once

#include <string_view>

namespace sonoprog::cli {

// Exit statuses a script can trust. `produce` keeps its own meaning of 1: a
// unit failed.
inline constexpr int kExitPassed = 0;     // done
inline constexpr int kExitFailed = 1;     // the chip or its data failed
inline constexpr int kExitUsage = 2;      // the command cannot run as given
inline constexpr int kExitNoWriter = 3;   // no Writer, or the link failed
inline constexpr int kExitFile = 4;       // a file could not be read or written
inline constexpr int kExitStopped = 130;  // stopped by the operator

struct ExitMeaning {
    int code;
    std::string_view meaning;
};

// What --help, the manual page and the README list, in this order.
inline constexpr ExitMeaning kExitMeanings[] = {
    {kExitPassed, "done"},
    {kExitFailed, "the chip or its data failed (not blank, differs, verify or detect failed)"},
    {kExitUsage, "usage"},
    {kExitNoWriter, "no Writer, or the link failed (\"USB failed!\")"},
    {kExitFile, "a file could not be read or written"},
    {kExitStopped, "stopped by the operator"},
};

// Of two reasons to fail, the one the exit status reports: stopped before
// usage before the Writer before a file before the chip.
int worseExit(int a, int b);

// The status a failed operation's first fail line (its text without indent
// and mark) stands for: the link's and the files' failures have their own.
int exitForFailText(std::string_view bare);

}  // namespace sonoprog::cli
