#pragma once

#include <string>

// The child process of the start-up figure: starts the window named by mode
// ("program" or "bare") and ends at its first paint.
int runStartupChild(const std::string& mode, const std::string& dir, int argc, char** argv);
