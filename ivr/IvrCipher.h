#pragma once

#include <cstdint>

namespace sonoprog::ivr::detail {

// Single-block DES under key `key` of the active table (built-in or
// IvrKeys.bin), schedules made once on first use.
void decipherBlock(int key, const std::uint8_t in[8], std::uint8_t out[8]);
void encipherBlock(int key, const std::uint8_t in[8], std::uint8_t out[8]);
// Drops the schedules; the next block loads the table again.
void resetKeyTable();

}  // namespace sonoprog::ivr::detail
