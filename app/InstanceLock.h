#pragma once

#include <filesystem>
#include <string_view>

namespace sonoprog::app {

// The single-instance guard: an advisory lock on a file named after the
// program in the user's runtime folder. The lock goes with the process, so a
// copy that crashed never blocks the next start.
class InstanceLock {
public:
    // "$XDG_RUNTIME_DIR/<name>.lock", or "/tmp/sonoprog-<uid>/<name>.lock"
    // when there is no runtime folder.
    static std::filesystem::path lockPath(std::string_view name);

    explicit InstanceLock(const std::filesystem::path& path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock. A lock file that cannot be
    // made at all does not keep the program from starting.
    bool acquired() const { return acquired_; }

private:
    int fd_ = -1;
    bool acquired_ = false;
};

}  // namespace sonoprog::app
