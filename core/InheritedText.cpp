#include "core/InheritedText.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace sonoprog::core {

namespace {

// What a pipe takes before a reader must come: POSIX promises no more.
constexpr std::size_t kMostText = 4096;

}  // namespace

int inheritedTextPipe(std::string_view text) {
    if (text.size() > kMostText) return -1;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(ends[1], text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(ends[0]);
            ::close(ends[1]);
            return -1;
        }
        written += static_cast<std::size_t>(n);
    }
    ::close(ends[1]);
    return ends[0];
}

bool keepAcrossExec(int fd) {
    return fd >= 0 && ::fcntl(fd, F_SETFD, 0) == 0;
}

std::optional<std::string> readInheritedText(int fd) {
    if (fd < 0 || ::fcntl(fd, F_GETFD) < 0) return std::nullopt;
    std::string text;
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        // Never more than a hand-over holds: a descriptor that is no such
        // pipe (a terminal, a big file) is not read for ever.
        if (text.size() > kMostText) {
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return text;
}

}  // namespace sonoprog::core
