#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sonoprog::test {

// A short image that is neither blank nor one repeated byte.
inline std::vector<std::uint8_t> sweepImage(std::size_t size, std::uint8_t salt) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>((i * 37 + salt + (i >> 8)) & 0xFF);
    return image;
}

}  // namespace sonoprog::test
