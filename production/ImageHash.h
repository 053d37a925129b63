#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sonoprog::production {

// SHA-256 of bytes and of files, as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);
// nullopt when the file cannot be read.
std::optional<std::string> sha256File(const std::filesystem::path& file);

// The image's hash before every unit, without reading the whole image every
// time: the hash is kept with the file's identity (device, inode, size and
// modification time to the nanosecond) and the file is read again whenever
// any of them changes. A file rewritten in place within the same nanosecond
// at the same size is the one change this cannot see; every editor and copy
// tool changes the time.
class ImageHashCache {
public:
    std::optional<std::string> hash(const std::filesystem::path& file);
    // How many times a file was actually read (for tests and the benchmark).
    long long reads() const { return reads_; }

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long long mtimeNs = 0;
        long long ctimeNs = 0;
        friend bool operator==(const Identity&, const Identity&) = default;
    };
    struct Entry {
        Identity identity;
        std::string sha256;
    };
    std::map<std::string, Entry> entries_;
    long long reads_ = 0;
};

}  // namespace sonoprog::production
