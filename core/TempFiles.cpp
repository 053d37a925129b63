#include "core/TempFiles.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

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

std::optional<PrivateTempFile> PrivateTempFile::create(const std::filesystem::path& tempDir,
                                                       std::string_view prefix,
                                                       std::string_view extension) {
    std::string pattern =
        (tempDir / (std::string(prefix) + "XXXXXX" + std::string(extension))).string();
    // mkstemps creates with O_EXCL: an existing name, a link included, is
    // never opened, and the file is readable by its owner only.
    const int fd = ::mkostemps(pattern.data(), static_cast<int>(extension.size()), O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::FILE* f = ::fdopen(fd, "w+b");
    if (!f) {
        ::close(fd);
        ::unlink(pattern.c_str());
        return std::nullopt;
    }
    return PrivateTempFile(std::filesystem::path(pattern), FilePtr(f));
}

PrivateTempFile::PrivateTempFile(std::filesystem::path path, FilePtr file)
    : path_(std::move(path)), file_(std::move(file)) {}

PrivateTempFile::PrivateTempFile(PrivateTempFile&& other) noexcept
    : path_(std::move(other.path_)), file_(std::move(other.file_)) {
    other.path_.clear();
}

PrivateTempFile::~PrivateTempFile() {
    file_.reset();
    if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace sonoprog::core
