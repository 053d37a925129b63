#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace sonoprog::core {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens for binary reading a regular file (or a link to one) and nothing
// else: a named pipe would wait for a writer, a device such as /dev/zero never
// ends and a folder holds no bytes, so each is refused at once (nullptr) like
// a file that does not exist.
FilePtr openForReading(const std::filesystem::path& path);
// The same, with the reason for a refusal in `why`, naming the file:
// "PATH is a named pipe, not a regular file", "PATH: No such file or directory".
FilePtr openForReading(const std::filesystem::path& path, std::string& why);
// The same check for a reader that takes a descriptor (blocking reads,
// close-on-exec); -1 with `why` set on a refusal. The caller closes it.
int openInputDescriptor(const std::filesystem::path& path, std::string& why);

// Whether a written file may take the place of `path`: nothing is there yet,
// or it is a regular file (or a link to one). A device, a pipe, a socket or a
// folder is never replaced by a file.
bool isReplaceableTarget(const std::filesystem::path& path);

// The file's present size from the current stream (seek to end), -1 on failure.
long long streamSize(std::FILE* f);

}  // namespace sonoprog::core
