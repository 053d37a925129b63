#pragma once

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/FileHandle.h"

namespace sonoprog::core {

struct StampedFile {
    std::filesystem::path path;
    FilePtr file;
};

// "Temp/PGM_20110607-0450.log". An existing file of that name is never
// truncated: a later run within the same minute takes the next free name
// ("PGM_20110607-0450-2.log", "-3", ...). nullopt when no file can be created.
std::optional<StampedFile> createStampedFile(const std::filesystem::path& tempDir,
                                             std::string_view prefix, const std::tm& at,
                                             std::string_view extension);

// A work file of one run alone: made in Temp under a name no other file has
// (created exclusively, so a link planted under that name is never followed),
// opened for writing and reading back, and removed when the object goes, on
// every path out of the run.
class PrivateTempFile {
public:
    // "temp-Ab3xYz.bin" for prefix "temp-" and extension ".bin"; nullopt when
    // the folder takes no new file.
    static std::optional<PrivateTempFile> create(const std::filesystem::path& tempDir,
                                                 std::string_view prefix,
                                                 std::string_view extension);
    PrivateTempFile(PrivateTempFile&& other) noexcept;
    PrivateTempFile& operator=(PrivateTempFile&&) = delete;
    PrivateTempFile(const PrivateTempFile&) = delete;
    PrivateTempFile& operator=(const PrivateTempFile&) = delete;
    ~PrivateTempFile();

    const std::filesystem::path& path() const { return path_; }
    std::FILE* file() const { return file_.get(); }

private:
    PrivateTempFile(std::filesystem::path path, FilePtr file);
    std::filesystem::path path_;
    FilePtr file_;
};

}  // namespace sonoprog::core
