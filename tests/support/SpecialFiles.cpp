#include "tests/support/SpecialFiles.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <stdexcept>

namespace sonoprog::test {

void makeFifo(const std::filesystem::path& path) {
    if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
}

bool devNullIntact() {
    struct stat st {};
    return ::lstat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 3);
}

bool isFifo(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

HangGuard::HangGuard(unsigned seconds) {
    ::alarm(seconds);
}

HangGuard::~HangGuard() {
    ::alarm(0);
}

}  // namespace sonoprog::test
