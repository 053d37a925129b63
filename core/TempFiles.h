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

}  // namespace sonoprog::core
