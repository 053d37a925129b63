#include "core/ImageReader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace sonoprog::core {

namespace {

// Pages are handed out from inside the block: a cache line alignment keeps
// every whole page of it on its own lines.
constexpr std::align_val_t kAlign{64};

}  // namespace

void ImageReader::AlignedFree::operator()(std::uint8_t* p) const {
    ::operator delete[](p, kAlign);
}

ImageReader::ImageReader(std::FILE* f, std::size_t blockSize)
    : f_(f),
      fd_(f ? fileno(f) : -1),
      size_(std::max<std::size_t>(blockSize, 1)),
      block_(static_cast<std::uint8_t*>(::operator new[](size_, kAlign))) {}

bool ImageReader::seek(std::int64_t offset) {
    begin_ = end_ = 0;
    offset_ = offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
    ended_ = offset < 0;
    failed_ = false;
    return offset >= 0;
}

long ImageReader::readAt(std::uint8_t* out, std::size_t n) {
    if (fd_ >= 0) {
        for (;;) {
            const ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(offset_));
            if (got >= 0) return static_cast<long>(got);
            if (errno == EINTR) continue;
            // A pipe has no offsets: it reads as a file that ends here.
            return errno == ESPIPE ? 0 : -1;
        }
    }
    if (!f_) return -1;
    // A stream in memory has no descriptor: it is read where it is put.
    if (fseeko(f_, static_cast<off_t>(offset_), SEEK_SET) != 0) return 0;
    const std::size_t got = std::fread(out, 1, n, f_);
    if (got == 0 && std::ferror(f_)) {
        std::clearerr(f_);
        return -1;
    }
    return static_cast<long>(got);
}

void ImageReader::fill(std::size_t want) {
    if (end_ - begin_ >= want || ended_ || failed_) return;
    // A part page left at the block's end moves to the front and is
    // completed by the next read.
    const std::size_t kept = end_ - begin_;
    std::memmove(block_.get(), block_.get() + begin_, kept);
    begin_ = 0;
    end_ = kept;
    while (end_ < want) {
        const long n = readAt(block_.get() + end_, size_ - end_);
        if (n < 0) {
            failed_ = true;
            return;
        }
        if (n == 0) {
            ended_ = true;
            return;
        }
        end_ += static_cast<std::size_t>(n);
        offset_ += static_cast<std::uint64_t>(n);
    }
}

const std::uint8_t* ImageReader::next(std::size_t n) {
    if (n > size_) return nullptr;
    fill(n);
    if (end_ - begin_ < n) {
        begin_ = end_;
        return nullptr;
    }
    const std::uint8_t* at = block_.get() + begin_;
    begin_ += n;
    return at;
}

std::span<const std::uint8_t> ImageReader::nextSome(std::size_t max) {
    fill(1);
    const std::size_t n = std::min(max, end_ - begin_);
    std::span<const std::uint8_t> out(block_.get() + begin_, n);
    begin_ += n;
    return out;
}

std::size_t ImageReader::read(std::uint8_t* out, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const auto piece = nextSome(n - got);
        if (piece.empty()) break;
        std::memcpy(out + got, piece.data(), piece.size());
        got += piece.size();
    }
    return got;
}

}  // namespace sonoprog::core
