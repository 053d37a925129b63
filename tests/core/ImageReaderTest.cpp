#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/FileHandle.h"
#include "core/ImageReader.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes numbered(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + i / 251);
    return bytes;
}

struct ImageReaderTest : ::testing::Test {
    test::TempDir dir;
};

}  // namespace

TEST_F(ImageReaderTest, PiecesThatStraddleBlocksComeWholeAndInOrder) {
    // A block of 1,000 holds no whole number of 48- or 1,024-byte pieces, so
    // every refill carries a part piece over to the front.
    const Bytes image = numbered(10 * 1024 + 100);
    core::FilePtr f = core::openForReading(dir.write("image.bin", image));
    ASSERT_TRUE(f);
    core::ImageReader reader(f.get(), 3000);
    std::size_t at = 0;
    while (const std::uint8_t* page = reader.next(1024)) {
        ASSERT_TRUE(std::equal(page, page + 1024, image.begin() + at)) << "page at " << at;
        at += 1024;
    }
    EXPECT_EQ(at, 10u * 1024);  // the 100 bytes after the last whole page are no page
    EXPECT_FALSE(reader.failed());

    reader.rewind();
    Bytes copied(image.size() + 48, 0);
    std::size_t got = 0;
    for (std::size_t n; (n = reader.read(copied.data() + got, 48)) > 0; got += n) ASSERT_LE(n, 48u);
    EXPECT_EQ(got, image.size());
    copied.resize(got);
    EXPECT_EQ(copied, image);
}

TEST_F(ImageReaderTest, ReadsFromTheFirstByteWhereverTheStreamStands) {
    const Bytes image = numbered(5000);
    core::FilePtr f = core::openForReading(dir.write("image.bin", image));
    ASSERT_TRUE(f);
    std::fseek(f.get(), 0, SEEK_END);  // a size check leaves the stream at its end
    core::ImageReader reader(f.get(), 4096);
    const std::uint8_t* first = reader.next(16);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(std::equal(first, first + 16, image.begin()));

    // Half-way through, rewind starts over: a verify after a write reads the
    // same bytes the write did.
    ASSERT_NE(reader.next(4000), nullptr);
    reader.rewind();
    Bytes again(image.size());
    EXPECT_EQ(reader.read(again.data(), again.size()), image.size());
    EXPECT_EQ(again, image);
}

TEST_F(ImageReaderTest, AFileCutShortIsSeenAndNothingStaleIsHandedOut) {
    const Bytes image = numbered(8192);
    const auto path = dir.write("image.bin", image);
    core::FilePtr f = core::openForReading(path);
    ASSERT_TRUE(f);
    core::ImageReader reader(f.get(), 4096);
    ASSERT_NE(reader.next(4096), nullptr);
    std::filesystem::resize_file(path, 4096 + 100);
    // 100 bytes are left: not a page, and they are used up by the refusal.
    EXPECT_EQ(reader.next(1024), nullptr);
    std::uint8_t out[48];
    EXPECT_EQ(reader.read(out, sizeof out), 0u);
    EXPECT_FALSE(reader.failed());  // an end, not a read error
    // Asking for more than one block could never be met in one piece.
    reader.rewind();
    EXPECT_EQ(reader.next(4097), nullptr);
}

TEST_F(ImageReaderTest, AReadErrorIsToldApartFromTheEnd) {
    // A folder opens as a stream but every read of it fails.
    std::FILE* folder = std::fopen(dir.path().c_str(), "rb");
    ASSERT_NE(folder, nullptr);
    core::ImageReader reader(folder, 1024);
    EXPECT_EQ(reader.next(1), nullptr);
    EXPECT_TRUE(reader.nextSome(10).empty());
    EXPECT_TRUE(reader.failed());
    std::fclose(folder);
}

TEST_F(ImageReaderTest, AStreamInMemoryReadsAlikeAndSeekGoesWhereAsked) {
    Bytes image = numbered(3000);
    core::FilePtr file = core::openForReading(dir.write("image.bin", image));
    std::FILE* memory = fmemopen(image.data(), image.size(), "rb");
    ASSERT_TRUE(file);
    ASSERT_NE(memory, nullptr);
    for (std::FILE* f : {file.get(), memory}) {
        core::ImageReader reader(f, 1024);
        ASSERT_TRUE(reader.seek(2990));
        std::uint8_t tail[16] = {};
        EXPECT_EQ(reader.read(tail, sizeof tail), 10u);  // the last ten bytes, then the end
        EXPECT_TRUE(std::equal(tail, tail + 10, image.begin() + 2990));
        EXPECT_FALSE(reader.failed());
        // Before the first byte is nowhere: nothing is read from there.
        EXPECT_FALSE(reader.seek(-8));
        EXPECT_EQ(reader.read(tail, sizeof tail), 0u);
        ASSERT_TRUE(reader.seek(1000));
        const std::uint8_t* piece = reader.next(1024);
        ASSERT_NE(piece, nullptr);
        EXPECT_TRUE(std::equal(piece, piece + 1024, image.begin() + 1000));
    }
    std::fclose(memory);
}
