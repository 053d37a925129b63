#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/FileHandle.h"

namespace sonoprog::core {

// An image file's bytes, read once into memory, for a run that must program
// and verify exactly the bytes it hashed and recorded: the file may be
// rewritten on disk meanwhile, the snapshot stays what was read. Operations
// handed a snapshot (OperationServices::image) read it instead of the file of
// the same path.
class ImageSnapshot {
public:
    // nullopt with `error` set when the file is not a readable regular file,
    // is larger than `maxBytes`, or changed while it was read.
    static std::optional<ImageSnapshot> read(const std::filesystem::path& file,
                                             std::uint64_t maxBytes, std::string& error);

    const std::filesystem::path& path() const { return path_; }
    std::span<const std::uint8_t> bytes() const { return bytes_; }
    // A read-only stream over the bytes, as an image reader takes it; nullptr
    // when none can be made (an empty snapshot).
    FilePtr open() const;

private:
    ImageSnapshot(std::filesystem::path path, std::vector<std::uint8_t> bytes)
        : path_(std::move(path)), bytes_(std::move(bytes)) {}
    std::filesystem::path path_;
    std::vector<std::uint8_t> bytes_;
};

// The stream an operation reads the image at `path` from: the snapshot's
// bytes when it was taken of that path, otherwise the file itself (as
// openForReading opens it).
FilePtr openImage(const ImageSnapshot* snapshot, const std::filesystem::path& path);

}  // namespace sonoprog::core
