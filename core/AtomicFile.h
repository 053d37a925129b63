#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "core/Prompter.h"

namespace sonoprog::core {

// A file that replaces its target only once it is complete: everything goes
// into a temporary file in the target's folder, which is flushed to the disk
// and then renamed over the target. Until commit() succeeds the earlier file
// stays byte for byte; a file given up is removed. A target that is not a
// regular file (or a link to one) is refused by open().
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

// The question asked before an output file is written over an existing one;
// true when nothing is there or the answer is Yes.
bool confirmReplace(Prompter& prompter, const std::string& path);

// The whole file in one go, as above; false with the target untouched.
bool writeFileAtomically(const std::filesystem::path& target, const void* data, std::size_t length);

}  // namespace sonoprog::core
