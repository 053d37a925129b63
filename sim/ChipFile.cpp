#include "sim/ChipFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>
#include <vector>

namespace sonoprog::sim {

namespace {

std::string systemError(const std::filesystem::path& path) {
    return path.string() + ": " + std::strerror(errno);
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<std::string> ensureChipFile(const std::filesystem::path& file, std::size_t size,
                                          const std::string& chipName, bool* created) {
    if (created) *created = false;
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return file.string() + " is not a file";
        if (static_cast<unsigned long long>(st.st_size) != size)
            return file.string() + " holds " + std::to_string(st.st_size) + " bytes, but a " +
                   chipName + " chip file must hold " + std::to_string(size) +
                   " bytes; it is left as it is (delete it for a blank chip)";
        return std::nullopt;
    }
    if (errno != ENOENT) return systemError(file);

    std::filesystem::path temp = file;
    temp += ".new-" + std::to_string(::getpid());
    // Made, never opened: a link or a pipe planted at the name is not followed.
    // Whatever stands there is no live run's (the name carries this process's
    // id, and the folder is this process's), so it goes once.
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(temp.c_str(), kFlags, 0644);
    if (fd < 0 && errno == EEXIST && ::unlink(temp.c_str()) == 0)
        fd = ::open(temp.c_str(), kFlags, 0644);
    if (fd < 0) return systemError(temp);
    std::vector<std::uint8_t> blank(std::min<std::size_t>(size, 1 << 20), 0xFF);
    bool ok = true;
    for (std::size_t done = 0; ok && done < size;) {
        std::size_t n = std::min(blank.size(), size - done);
        ok = writeAll(fd, blank.data(), n);
        done += n;
    }
    if (ok) ok = ::fsync(fd) == 0;
    std::string error = ok ? std::string() : systemError(temp);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = systemError(temp);
    }
    // A link, not a rename: a run that made the same chip at the same moment
    // keeps its file, and both then use that one.
    bool raced = false;
    if (ok && ::link(temp.c_str(), file.c_str()) != 0) {
        raced = errno == EEXIST;
        // Folders without hard links still get the chip whole, by a rename.
        const bool noLinks = errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS;
        if (noLinks && ::rename(temp.c_str(), file.c_str()) == 0) {
            if (created) *created = true;
            return std::nullopt;
        }
        if (!raced) {
            ok = false;
            error = systemError(file);
        }
    }
    ::unlink(temp.c_str());
    if (!ok) return error;
    if (raced) return ensureChipFile(file, size, chipName);
    if (created) *created = true;
    return std::nullopt;
}

std::vector<std::filesystem::path> removeStaleChipFiles(const std::filesystem::path& folder) {
    static constexpr std::string_view kMarker = ".new-";
    std::vector<std::filesystem::path> removed;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        const auto at = name.rfind(kMarker);
        if (at == std::string::npos) continue;
        const std::string chip = name.substr(0, at);
        if (chip != "tarn20.bin" && chip != "serialflash.bin" && chip != "kiva300.bin") continue;
        const std::string digits = name.substr(at + kMarker.size());
        if (digits.empty() || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(digits));
        // Only the leftovers of a process that is gone: a run making its chip
        // right now keeps its file.
        if (pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        std::error_code removeError;
        if (entry.is_regular_file(removeError) &&
            std::filesystem::remove(entry.path(), removeError))
            removed.push_back(entry.path());
    }
    return removed;
}

}  // namespace sonoprog::sim
