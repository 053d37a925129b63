#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace sonoprog::audio {

struct ColumnPeak {
    std::uint8_t low = 0x80;
    std::uint8_t high = 0x80;
};

// The lowest and highest 8-bit sample of each of `columns` equal slices of the
// data that starts at `dataOffset` and runs `dataSize` bytes (less when the
// file is shorter), read in blocks. Columns without a sample stay at 0x80.
// Empty when the file cannot be opened or columns is not positive.
std::vector<ColumnPeak> wavePeaks(const std::filesystem::path& file, std::uint32_t dataSize,
                                  int columns, std::uint32_t dataOffset = 44);

}  // namespace sonoprog::audio
