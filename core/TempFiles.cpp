#include "core/TempFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "core/Clock.h"

namespace sonoprog::core {

std::optional<StampedFile> createStampedFile(const std::filesystem::path& tempDir,
                                             std::string_view prefix, const std::tm& at,
                                             std::string_view extension) {
    const std::string base = std::string(prefix) + fileStamp(at);
    for (int n = 1; n < 10000; ++n) {
        std::string name = base;
        if (n > 1) name += "-" + std::to_string(n);
        name += extension;
        std::filesystem::path path = tempDir / name;
        // O_EXCL: create only; a name already taken moves on to the next suffix.
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return std::nullopt;
        }
        std::FILE* f = ::fdopen(fd, "wb");
        if (!f) {
            ::close(fd);
            return std::nullopt;
        }
        return StampedFile{std::move(path), FilePtr(f)};
    }
    return std::nullopt;
}

}  // namespace sonoprog::core
