#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace sonoprog::core {

// What the pattern of a mismatching range suggests.
enum class DiffHint : std::uint8_t {
    None,
    NotProgrammed,  // the chip holds 0xFF wherever it differs
    NotErased,      // only bits the image has at 1 read 0: written over old data
};

// "not programmed", "not erased before writing", or empty.
std::string_view diffHintText(DiffHint hint);

// One run of consecutive bytes where the chip differs from the image.
struct DiffRange {
    std::uint64_t start = 0;
    std::uint64_t end = 0;  // the last differing address, inclusive
    std::uint64_t bytes = 0;
    std::uint64_t bitsCleared = 0;  // 1 in the image, 0 on the chip
    std::uint64_t bitsSet = 0;      // 0 in the image, 1 on the chip
    DiffHint hint = DiffHint::None;
    bool allErased = true;  // every differing chip byte is 0xFF
    friend bool operator==(const DiffRange&, const DiffRange&) = default;
};

// A byte-for-byte comparison of what a chip holds with its image, fed in
// pieces as the chip is read. Blocks that match cost one memcmp; only a block
// that differs is walked byte by byte. Addresses must rise from one piece to
// the next; a piece that does not continue the last one ends an open range.
class ImageComparer {
public:
    // Ranges beyond this are counted but not kept: a chip of random bytes
    // must not hold a range per byte in memory.
    static constexpr std::size_t kKeptRanges = 10000;

    void add(std::uint64_t address, const std::uint8_t* chip, const std::uint8_t* image,
             std::size_t length);
    // Closes the open range; call once after the last piece.
    void finish();

    bool same() const { return rangeCount_ == 0; }
    std::uint64_t rangeCount() const { return rangeCount_; }
    std::uint64_t byteCount() const { return byteCount_; }
    // The first kKeptRanges ranges, in address order.
    const std::vector<DiffRange>& ranges() const { return ranges_; }

private:
    void close();

    std::vector<DiffRange> ranges_;
    DiffRange open_;
    bool isOpen_ = false;
    std::uint64_t rangeCount_ = 0;
    std::uint64_t byteCount_ = 0;
};

}  // namespace sonoprog::core
