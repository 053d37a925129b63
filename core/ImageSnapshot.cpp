#include "core/ImageSnapshot.h"

#include <sys/stat.h>

#include <cstdio>

namespace sonoprog::core {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

std::optional<ImageSnapshot> ImageSnapshot::read(const std::filesystem::path& file,
                                                 std::uint64_t maxBytes, std::string& error) {
    FilePtr f = openForReading(file);
    struct stat before {};
    if (!f || ::fstat(::fileno(f.get()), &before) != 0 || before.st_size < 0) {
        error = file.string() + ": cannot be read";
        return std::nullopt;
    }
    const auto size = static_cast<std::uint64_t>(before.st_size);
    if (size > maxBytes) {
        error = file.string() + ": larger than any chip (" + std::to_string(size) + " bytes)";
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f.get());
    // One byte more than the size said, or a different time, is a file written
    // while it was read: its bytes may belong to neither version.
    std::uint8_t extra = 0;
    const bool more = std::fread(&extra, 1, 1, f.get()) != 0;
    struct stat after {};
    if (got != bytes.size() || more || std::ferror(f.get()) ||
        ::fstat(::fileno(f.get()), &after) != 0 || !sameFile(before, after)) {
        error = file.string() + ": changed while it was read";
        return std::nullopt;
    }
    return ImageSnapshot(file, std::move(bytes));
}

FilePtr ImageSnapshot::open() const {
    if (bytes_.empty()) return nullptr;
    // "r": the stream never writes, so the bytes stay const.
    return FilePtr(::fmemopen(const_cast<std::uint8_t*>(bytes_.data()), bytes_.size(), "rb"));
}

FilePtr openImage(const ImageSnapshot* snapshot, const std::filesystem::path& path) {
    if (snapshot && snapshot->path() == path) return snapshot->open();
    return openForReading(path);
}

}  // namespace sonoprog::core
