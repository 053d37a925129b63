#include "audio/DecoderMessages.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "core/LineSafe.h"
#include "core/NumberText.h"

namespace sonoprog::audio {

namespace {
// Of a flood of notes only the beginning is read back.
constexpr std::size_t kReadLimit = 64 * 1024;
}  // namespace

DecoderMessages::DecoderMessages() {
    file_ = ::memfd_create("decoder-messages", MFD_CLOEXEC);
    if (file_ < 0) {
        std::FILE* f = std::tmpfile();
        if (f) {
            file_ = ::fcntl(::fileno(f), F_DUPFD_CLOEXEC, 0);
            std::fclose(f);
        }
    }
}

DecoderMessages::~DecoderMessages() {
    if (file_ >= 0) ::close(file_);
}

void DecoderMessages::begin() {
    if (file_ < 0 || saved_ >= 0) return;
    std::fflush(stderr);
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_ < 0) return;
    if (::dup2(file_, STDERR_FILENO) < 0) {
        ::close(saved_);
        saved_ = -1;
    }
}

void DecoderMessages::end() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;

    const off_t size = ::lseek(file_, 0, SEEK_END);
    if (size <= 0) return;
    std::string text(static_cast<std::size_t>(std::min<off_t>(size, kReadLimit)), '\0');
    const ssize_t got = ::pread(file_, text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    // Emptied for the next capture: the descriptor's offset is shared with
    // standard error while it was pointed here, so it goes back to 0 as well.
    if (::ftruncate(file_, 0) == 0) ::lseek(file_, 0, SEEK_SET);

    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find('\n', start);
        if (stop == std::string::npos) stop = text.size();
        std::string line(core::trimBlanks(std::string_view(text).substr(start, stop - start)));
        if (!line.empty()) take(line);
        start = stop + 1;
    }
}

void DecoderMessages::take(const std::string& line) {
    const std::string shown = core::lineSafe(line);
    if (std::find(lines_.begin(), lines_.end(), shown) != lines_.end()) return;
    if (lines_.size() < kKeptLines)
        lines_.push_back(shown);
    else
        ++dropped_;
}

}  // namespace sonoprog::audio
