#include "core/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace sonoprog::core {

FilePtr openForReading(const std::filesystem::path& path) {
    // O_NONBLOCK only so that a pipe's open returns; the kind is then read
    // from the open file itself, so a name swapped in between cannot slip by.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    FilePtr f(::fdopen(fd, "rb"));
    if (!f) ::close(fd);
    return f;
}

bool isReplaceableTarget(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode);
    // A dangling link or a name not taken yet; a folder on the way that cannot
    // be searched shows when the file is created.
    return errno == ENOENT;
}

long long streamSize(std::FILE* f) {
    if (!f || fseeko(f, 0, SEEK_END) != 0) return -1;
    off_t pos = ftello(f);
    return pos < 0 ? -1 : static_cast<long long>(pos);
}

}  // namespace sonoprog::core
