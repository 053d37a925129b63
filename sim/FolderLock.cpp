#include "sim/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace sonoprog::sim {

FolderLock::FolderLock(std::filesystem::path folder) : folder_(std::move(folder)) {}

FolderLock::~FolderLock() {
    release();
}

bool FolderLock::acquire() {
    if (fd_ >= 0) return true;
    const auto path = folder_ / kWriterLockFileName;
    // The lock file is opened, never followed: a link planted under its name
    // must not let this process write its PID into another file.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    fd_ = fd;
    return true;
}

void FolderLock::release() {
    if (fd_ < 0) return;
    // The PID goes with the claim; the file stays, so that no later claim
    // races with its removal.
    [[maybe_unused]] int rc = ::ftruncate(fd_, 0);
    ::close(fd_);
    fd_ = -1;
}

std::optional<long> FolderLock::holder() const {
    const auto path = folder_ / kWriterLockFileName;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buf[32] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return std::nullopt;
    char* end = nullptr;
    const long pid = std::strtol(buf, &end, 10);
    if (end == buf || pid <= 0) return std::nullopt;
    return pid;
}

}  // namespace sonoprog::sim
