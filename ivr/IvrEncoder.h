#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "ivr/IvrKeys.h"

namespace sonoprog::ivr {

// Where a DAT file keeps its image: the data offset D (file offset of image
// position 0) and the enciphered stretch [S, E).
struct IvrLayout {
    std::int16_t dataOffset = 32;
    std::int32_t regionStart = 0;
    std::int32_t regionEnd = 0;
};

// A layout the encoder accepts for an image of `length` bytes: D at or past
// the header, 0 <= S <= E <= length, E - S a multiple of 8.
bool validIvrLayout(const IvrLayout& layout, std::size_t length);

// The DAT file for `image` under `layout` (header, plain bytes, enciphered
// blocks under `keys`); nullopt for a layout that is not valid.
// The image goes in as it is; IvrToImage stamps the check word when decoding.
std::optional<std::vector<std::uint8_t>> ImageToIvr(const std::uint8_t* image, std::size_t length,
                                                    const IvrLayout& layout, const IvrKeys& keys);

// ImageToIvr written to `path`; false when the layout is not valid or the
// file cannot be written.
bool ImageToIvrFile(const std::filesystem::path& path, const std::uint8_t* image,
                    std::size_t length, const IvrLayout& layout, const IvrKeys& keys);

}  // namespace sonoprog::ivr
