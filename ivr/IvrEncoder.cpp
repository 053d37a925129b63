#include "ivr/IvrEncoder.h"

#include <cstring>
#include <fstream>
#include <utility>

#include "ivr/Ivr2bin.h"

namespace sonoprog::ivr {

namespace {

void putLe(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

bool validIvrLayout(const IvrLayout& layout, std::size_t length) {
    const std::int64_t s = layout.regionStart;
    const std::int64_t e = layout.regionEnd;
    return layout.dataOffset >= static_cast<std::int16_t>(kIvrHeaderSize) && s >= 0 && s <= e &&
           e <= static_cast<std::int64_t>(length) && (e - s) % 8 == 0;
}

std::optional<std::vector<std::uint8_t>> ImageToIvr(const std::uint8_t* image, std::size_t length,
                                                    const IvrLayout& layout, const IvrKeys& keys) {
    if (!validIvrLayout(layout, length)) return std::nullopt;
    const auto offset = static_cast<std::size_t>(layout.dataOffset);
    std::vector<std::uint8_t> dat(offset + length, 0);
    std::memcpy(dat.data(), "KIVR", 4);
    putLe(dat, 6, static_cast<std::uint16_t>(layout.dataOffset), 2);
    putLe(dat, 8, static_cast<std::uint32_t>(layout.regionStart), 4);
    putLe(dat, 12, static_cast<std::uint32_t>(layout.regionEnd), 4);
    if (length > 0) std::memcpy(dat.data() + offset, image, length);

    for (std::int64_t p = layout.regionStart; p < layout.regionEnd; p += 8) {
        std::uint8_t* c = dat.data() + offset + p;
        std::uint8_t e[8];
        keys.encipherBlock(ivrKeyNumber(p), image + p, e);
        // Undo what the decoder does before deciphering: c0 ^= c1, then c5 <-> c6.
        std::memcpy(c, e, 8);
        c[0] = static_cast<std::uint8_t>(e[0] ^ e[1]);
        std::swap(c[5], c[6]);
    }
    return dat;
}

bool ImageToIvrFile(const std::filesystem::path& path, const std::uint8_t* image,
                    std::size_t length, const IvrLayout& layout, const IvrKeys& keys) {
    auto dat = ImageToIvr(image, length, layout, keys);
    if (!dat) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(dat->data()),
              static_cast<std::streamsize>(dat->size()));
    // A full disk often shows only when the last buffered bytes go out.
    out.close();
    return !out.fail();
}

}  // namespace sonoprog::ivr
