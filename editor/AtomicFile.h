#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

namespace sonoprog::editor {

// A file that replaces its target only once it is complete: everything goes
// into a temporary file in the target's folder, which is flushed to the disk
// and then renamed over the target. Until commit() succeeds the earlier file
// stays byte for byte; a file given up is removed.
class AtomicFile {
public:
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; false when the folder takes no new file.
    bool open();
    std::FILE* file() const { return file_; }
    bool write(const void* data, std::size_t length);
    bool write(const std::string& text) { return write(text.data(), text.size()); }
    // Appends the rest of the source stream in large blocks, calling perBlock
    // after each; the kernel copies where it can. False on a read or write error.
    bool appendFrom(std::FILE* source, const std::function<void()>& perBlock);
    // Flush, sync, close, rename. False (and the target untouched) on any error.
    bool commit();
    void discard();

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

}  // namespace sonoprog::editor
