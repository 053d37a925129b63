#include "core/AtomicFile.h"

#include "core/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace sonoprog::core {

namespace {
// Large blocks keep the writes near the disk's own speed.
constexpr std::size_t kStreamBuffer = 1u << 20;

mode_t creationMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}
}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
    // Replacing a link replaces the file it points at, not the link.
    std::error_code ec;
    if (std::filesystem::is_symlink(target_, ec)) {
        auto resolved = std::filesystem::weakly_canonical(target_, ec);
        if (!ec) target_ = resolved;
    }
}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::open() {
    discard();
    // Only a regular file is ever replaced: renaming over a device or a pipe
    // would put a plain file where the system expects the special one.
    if (!isReplaceableTarget(target_)) return false;
    // A file marked read-only stays protected, as opening it for writing would.
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0 && (existing.st_mode & 0222) == 0) return false;
    std::filesystem::path folder = target_.parent_path();
    if (folder.empty()) folder = ".";
    std::string pattern = (folder / ("." + target_.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) return false;
    temp_ = pattern;
    struct stat st {};
    mode_t mode = ::stat(target_.c_str(), &st) == 0 ? (st.st_mode & 07777) : creationMode();
    ::fchmod(fd, mode);
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        discard();
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, kStreamBuffer);
    failed_ = false;
    return true;
}

bool AtomicFile::write(const void* data, std::size_t length) {
    if (!file_ || failed_) return false;
    if (length > 0 && std::fwrite(data, 1, length, file_) != length) failed_ = true;
    return !failed_;
}

bool AtomicFile::appendFrom(std::FILE* source, const std::function<void()>& perBlock) {
    constexpr std::size_t kBlock = 1u << 20;
    if (!file_ || failed_ || std::fflush(file_) != 0) return failed_ = true, false;
    const int in = ::fileno(source);
    const int out = ::fileno(file_);
    bool kernelCopy = true;
    bool copiedAny = false;
    while (kernelCopy) {
        ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kBlock, 0);
        if (n == 0) return true;
        if (n < 0) {
            // Not every pair of file systems copies in the kernel; fall back
            // to reading and writing while nothing has been copied yet.
            if (copiedAny || (errno != EXDEV && errno != ENOSYS && errno != EINVAL &&
                              errno != EOPNOTSUPP && errno != EBADF))
                return failed_ = true, false;
            kernelCopy = false;
            break;
        }
        copiedAny = true;
        perBlock();
    }
    std::vector<char> block(kBlock);
    for (;;) {
        std::size_t got = std::fread(block.data(), 1, block.size(), source);
        if (got > 0 && !write(block.data(), got)) return false;
        if (got < block.size()) break;
        perBlock();
    }
    if (std::ferror(source)) failed_ = true;
    return !failed_;
}

bool AtomicFile::commit() {
    if (!file_ || failed_) {
        discard();
        return false;
    }
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_) && ::fsync(::fileno(file_)) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (ok) ok = ::rename(temp_.c_str(), target_.c_str()) == 0;
    if (!ok) {
        discard();
        return false;
    }
    temp_.clear();
    return true;
}

void AtomicFile::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

bool confirmReplace(Prompter& prompter, const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(path), ec)) return true;
    return prompter.askYesNo("WARNING",
                             "File: " + path + " already exist, Do you want to replace it?",
                             BoxIcon::Information);
}

bool writeFileAtomically(const std::filesystem::path& target, const void* data,
                         std::size_t length) {
    AtomicFile file(target);
    return file.open() && file.write(data, length) && file.commit();
}

}  // namespace sonoprog::core
