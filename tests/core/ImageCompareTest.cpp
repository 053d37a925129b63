#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/ImageCompare.h"

using namespace sonoprog::core;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The chip fed in pieces of `piece` bytes, as a chip is read block by block.
ImageComparer compared(const Bytes& chip, const Bytes& image, std::size_t piece) {
    ImageComparer diff;
    for (std::size_t at = 0; at < chip.size(); at += piece) {
        const std::size_t n = std::min(piece, chip.size() - at);
        diff.add(at, chip.data() + at, image.data() + at, n);
    }
    diff.finish();
    return diff;
}

}  // namespace

TEST(ImageCompare, RangesCountBitsBothWaysAndHintAtTheCause) {
    struct Case {
        const char* name;
        Bytes chip, image;
        std::vector<DiffRange> ranges;
    } cases[] = {
        {"same", {1, 2, 3}, {1, 2, 3}, {}},
        // 0xFF wherever it differs: the bytes were never programmed.
        {"not programmed",
         {1, 0xFF, 0xFF, 4},
         {1, 0x00, 0x0F, 4},
         {{1, 2, 2, 0, 12, DiffHint::NotProgrammed, true}}},
        // Only bits the image has at 1 read 0: old data under the new.
        {"not erased",
         {0x00, 0x10, 7},
         {0x0F, 0x30, 7},
         {{0, 1, 2, 5, 0, DiffHint::NotErased, false}}},
        {"both ways", {0xF0}, {0x0F}, {{0, 0, 1, 4, 4, DiffHint::None, false}}},
        // A matching byte between two runs makes two ranges.
        {"two runs",
         {1, 9, 1, 1},
         {0, 9, 0, 0},
         {{0, 0, 1, 0, 1, DiffHint::None, false}, {2, 3, 2, 0, 2, DiffHint::None, false}}},
        // A run across the end of one piece and into the next is one range.
        {"across pieces",
         {5, 5, 1, 1, 1, 1, 5},
         {5, 5, 0, 0, 0, 0, 5},
         {{2, 5, 4, 0, 4, DiffHint::None, false}}},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{48}}) {
            const ImageComparer diff = compared(c.chip, c.image, piece);
            EXPECT_EQ(diff.ranges(), c.ranges) << c.name << " in pieces of " << piece;
            EXPECT_EQ(diff.same(), c.ranges.empty()) << c.name;
            EXPECT_EQ(diff.rangeCount(), c.ranges.size()) << c.name;
            std::uint64_t bytes = 0;
            for (const auto& r : c.ranges) bytes += r.bytes;
            EXPECT_EQ(diff.byteCount(), bytes) << c.name;
        }
    }
    EXPECT_EQ(diffHintText(DiffHint::NotProgrammed), "not programmed");
    EXPECT_EQ(diffHintText(DiffHint::NotErased), "not erased before writing");
    EXPECT_EQ(diffHintText(DiffHint::None), "");
}

TEST(ImageCompare, KeepsTheFirstRangesAndCountsTheRest) {
    const std::size_t n = ImageComparer::kKeptRanges + 5;
    Bytes chip(2 * n, 0), image(2 * n, 0);
    for (std::size_t i = 0; i < n; ++i) image[2 * i] = 1;  // every other byte differs
    const ImageComparer diff = compared(chip, image, 64);
    EXPECT_EQ(diff.rangeCount(), n);
    EXPECT_EQ(diff.byteCount(), n);
    ASSERT_EQ(diff.ranges().size(), ImageComparer::kKeptRanges);
    EXPECT_EQ(diff.ranges().back().start, 2 * (ImageComparer::kKeptRanges - 1));
}
