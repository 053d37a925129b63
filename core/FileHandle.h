#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

namespace sonoprog::core {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens for binary reading; a directory is refused (nullptr) like a file that
// does not exist, so no caller ever "reads" a folder.
FilePtr openForReading(const std::filesystem::path& path);

// The file's present size from the current stream (seek to end), -1 on failure.
long long streamSize(std::FILE* f);

}  // namespace sonoprog::core
