#include "ivr/Ivr2bin.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "core/FileHandle.h"
#include "core/ImageReader.h"

namespace sonoprog::ivr {

namespace {

// The file is read in pieces of at most 1,024 bytes through one fixed buffer,
// so that nothing but the caller's image grows with the file.
constexpr std::size_t kPieceSize = 1024;

std::int32_t le32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
}

// The stored form of a block has c5 and c6 exchanged and c0 combined with c1
// on top of the DES block.
void decodeBlock(const IvrKeys& keys, std::uint8_t (&c)[8], std::int64_t position,
                 std::uint8_t* out) {
    std::swap(c[5], c[6]);
    c[0] ^= c[1];
    keys.decipherBlock(ivrKeyNumber(position), c, out);
}

}  // namespace

int ivrKeyNumber(std::int64_t position) {
    return static_cast<int>((((position + 8) / 8) ^ 2) % 31);
}

std::size_t ivrHeaderLength(const std::uint8_t* image, std::size_t length) {
    const unsigned lo = length > 0 ? image[0] : 0xFF;
    const unsigned hi = length > 1 ? image[1] : 0xFF;
    return static_cast<std::size_t>((lo | (hi << 8)) & 0x3FFF) * 2;
}

std::uint16_t ivrCheckWord(const std::uint8_t* image, std::size_t length) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(6, length); ++i) sum += image[i];
    for (std::size_t i = ivrHeaderLength(image, length); i < length; ++i) sum += image[i];
    return static_cast<std::uint16_t>(0x10000 - sum);
}

int IvrStreamToImage(std::FILE* file, std::uint8_t* buffer, std::size_t length,
                     const IvrKeys& keys) {
    if (!file) return kIvrCannotOpen;
    if (length > 0) std::memset(buffer, 0xFF, length);

    core::ImageReader in(file, kPieceSize);
    std::uint8_t header[kIvrHeaderSize];
    if (!in.seek(0) || in.read(header, kIvrHeaderSize) != kIvrHeaderSize ||
        std::memcmp(header, "KIVR", 4) != 0)
        return kIvrNotIvr;
    const std::int64_t dataOffset =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(header[6] | (header[7] << 8)));
    const std::int64_t regionStart = le32(header + 8);
    const std::int64_t regionEnd = le32(header + 12);
    // A negative multiple of 8 passes: the enciphered stretch is then empty.
    if ((regionEnd - regionStart) % 8 != 0) return kIvrNotIvr;

    const std::int64_t size = static_cast<std::int64_t>(
        std::min<std::size_t>(length, std::numeric_limits<std::int64_t>::max() / 2));
    // Positions whose file offset would lie below 0 have no data.
    const std::int64_t firstData = std::max<std::int64_t>(0, -dataOffset);
    std::int64_t p = firstData;
    // Positions [dataBegin, dataEnd) hold bytes decoded from the file. Only the
    // first block (begun before position 0 or before the file's data) and the
    // last one (cut by the image's end or by the end of the data) can be left
    // undecoded, so the decoded positions are one stretch.
    std::int64_t dataBegin = firstData;
    std::int64_t dataEnd = firstData;
    if (p < size && in.seek(dataOffset + p)) {
        while (p < size) {
            if (regionStart <= p && p < regionEnd) {
                const std::int64_t blockStart = regionStart + (p - regionStart) / 8 * 8;
                const std::int64_t blockEnd = blockStart + 8;
                const std::int64_t stop = std::min(blockEnd, size);
                const auto want = static_cast<std::size_t>(stop - p);
                std::uint8_t c[8];
                const std::size_t got = in.read(c + (p - blockStart), want);
                if (got < want) break;  // data ends inside the block: it keeps 0xFF
                // A block is decoded only when all eight of its bytes lie in the
                // image and came from the file.
                if (blockStart == p && blockEnd <= size) {
                    decodeBlock(keys, c, p, buffer + p);
                    dataEnd = stop;
                } else if (dataEnd == dataBegin) {
                    dataBegin = dataEnd = stop;  // nothing decoded before this block
                }
                p = stop;
            } else {
                std::int64_t stop = size;
                if (p < regionStart && regionStart < regionEnd) stop = std::min(stop, regionStart);
                const auto want = static_cast<std::size_t>(stop - p);
                const std::size_t got = in.read(buffer + p, want);
                dataEnd = p + static_cast<std::int64_t>(got);
                if (got < want) break;
                p = stop;
            }
        }
    }

    if (length == 0) return kIvrOk;
    const auto headerLength = static_cast<std::int64_t>(ivrHeaderLength(buffer, length));
    const std::uint16_t word = ivrCheckWord(buffer, length);
    // The word goes only where the image has room and the file's data was decoded.
    auto store = [&](std::int64_t at, std::uint8_t value) {
        if (at >= dataBegin && at < dataEnd && at < size) buffer[at] = value;
    };
    store(headerLength - 2, static_cast<std::uint8_t>(word));
    store(headerLength - 1, static_cast<std::uint8_t>(word >> 8));
    return kIvrOk;
}

int IvrToImage(const std::string& path, std::uint8_t* buffer, std::size_t length,
               const IvrKeys& keys) {
    core::FilePtr file = core::openForReading(path);
    if (!file) return kIvrCannotOpen;
    return IvrStreamToImage(file.get(), buffer, length, keys);
}

}  // namespace sonoprog::ivr
