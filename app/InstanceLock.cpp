#include "app/InstanceLock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace sonoprog::app {

namespace {

std::filesystem::path userCacheFolder() {
    std::filesystem::path base;
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache) {
        base = cache;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = ::getpwuid(::getuid());
            home = pw ? pw->pw_dir : "";
        }
        base = std::filesystem::path(home) / ".cache";
    }
    const std::filesystem::path dir = base / "sonoprog";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    ::chmod(dir.c_str(), 0700);
    return dir;
}

}  // namespace

std::filesystem::path InstanceLock::lockPath(std::string_view name,
                                             const std::filesystem::path& tmpRoot) {
    const std::string file = std::string(name) + ".lock";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        struct stat st {};
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
            return std::filesystem::path(runtime) / file;
    }
    const std::filesystem::path dir = tmpRoot / ("sonoprog-" + std::to_string(::getuid()));
    ::mkdir(dir.c_str(), 0700);
    struct stat st {};
    // lstat: a link planted under the name is not the user's folder either.
    if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
        (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return dir / file;
    return userCacheFolder() / file;
}

InstanceLock::InstanceLock(const std::filesystem::path& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        acquired_ = true;
        return;
    }
    int rc;
    do {
        rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    acquired_ = rc == 0 || errno != EWOULDBLOCK;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace sonoprog::app
