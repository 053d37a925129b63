#include "core/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace sonoprog::core {

namespace {

const char* kindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

}  // namespace

int openInputDescriptor(const std::filesystem::path& path, std::string& why) {
    why.clear();
    // O_NONBLOCK only so that a pipe's open returns; the kind is then read
    // from the open file itself, so a name swapped in between cannot slip by.
    // Links are followed: a link to a regular file is an ordinary input.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = path.string() + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        why = path.string() + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        why = path.string() + " is " + kindOf(st.st_mode) + ", not a regular file";
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        why = path.string() + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

FilePtr openForReading(const std::filesystem::path& path, std::string& why) {
    const int fd = openInputDescriptor(path, why);
    if (fd < 0) return nullptr;
    FilePtr f(::fdopen(fd, "rb"));
    if (!f) {
        why = path.string() + ": " + std::strerror(errno);
        ::close(fd);
    }
    return f;
}

FilePtr openForReading(const std::filesystem::path& path) {
    std::string why;
    return openForReading(path, why);
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
