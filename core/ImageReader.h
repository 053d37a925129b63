#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

namespace sonoprog::core {

// An image file read front to back in large blocks, so that a page or a
// packet costs a copy (or nothing) and not a read call. Every chip reads its
// image through this, and so does the check sum.
//
// Reads go by offset, not through the stream's position: a size check or a
// sum that moved the stream changes nothing, and going back to the start needs
// no seek. A stream that cannot be read by offset (a pipe) reads as empty,
// which the callers already take for a file cut short. A stream without a
// file descriptor (one in memory) is read by seeking it, to the same effect.
class ImageReader {
public:
    static constexpr std::size_t kDefaultBlock = 64u << 10;

    // The stream stays the caller's; it must outlive the reader.
    explicit ImageReader(std::FILE* f, std::size_t blockSize = kDefaultBlock);

    // Back to the first byte of the file, a read error forgotten.
    void rewind() { seek(0); }
    // On to that byte of the file, the block's bytes dropped; false (and
    // nothing to read) for an offset below 0.
    bool seek(std::int64_t offset);

    // The next n bytes in one piece, valid until the next call; nullptr when
    // the file ends or a read fails before n bytes (the bytes before that are
    // used up), and for n larger than the block.
    const std::uint8_t* next(std::size_t n);

    // The next bytes as they lie in the block, at most `max` and at least one;
    // empty at the end of the file or on a read error.
    std::span<const std::uint8_t> nextSome(std::size_t max);

    // Copies up to n bytes; fewer only at the end of the file or on a read error.
    std::size_t read(std::uint8_t* out, std::size_t n);

    // True once a read failed (as opposed to the file ending).
    bool failed() const { return failed_; }
    std::size_t blockSize() const { return size_; }

private:
    // Keeps the unread bytes, moved to the front, and reads behind them until
    // at least `want` bytes are there, the file ends or a read fails.
    void fill(std::size_t want);

    struct AlignedFree {
        void operator()(std::uint8_t* p) const;
    };

    // One read at offset_ into `out`: bytes read, 0 at the end, -1 on an error.
    long readAt(std::uint8_t* out, std::size_t n);

    std::FILE* f_;
    int fd_;
    std::size_t size_;
    std::unique_ptr<std::uint8_t[], AlignedFree> block_;
    std::size_t begin_ = 0;     // first unread byte in the block
    std::size_t end_ = 0;       // end of the bytes read into the block
    std::uint64_t offset_ = 0;  // file offset of end_
    bool ended_ = false;
    bool failed_ = false;
};

}  // namespace sonoprog::core
