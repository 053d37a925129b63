#pragma once

#include <filesystem>

namespace sonoprog::test {

// A named pipe at `path` (nobody ever writes into it).
void makeFifo(const std::filesystem::path& path);

// Whether /dev/null is still the system's character device: the tests point
// the program at links to it and must find it untouched afterwards.
bool devNullIntact();

bool isFifo(const std::filesystem::path& path);

// Ends the test process with SIGALRM when the scope is not left within the
// given seconds, so that a read that blocks on a pipe fails the run instead
// of hanging it.
class HangGuard {
public:
    explicit HangGuard(unsigned seconds = 20);
    ~HangGuard();
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;
};

}  // namespace sonoprog::test
