#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "ivr/IvrKeys.h"

namespace sonoprog::ivr {

// Results of IvrToImage.
inline constexpr int kIvrOk = 0;          // the buffer holds the image
inline constexpr int kIvrCannotOpen = 1;  // the file cannot be opened; buffer untouched
inline constexpr int kIvrNotIvr = 2;      // not an IVR file; buffer all 0xFF

inline constexpr std::size_t kIvrHeaderSize = 32;
inline constexpr std::size_t kIvrBlockSize = 8;

// Turns the DAT file at `path` into the `length`-byte image in `buffer`:
// plain and enciphered positions decoded, everything the file does not supply
// 0xFF, the check word stamped. Never reads or writes outside `buffer`,
// whatever the file holds. Enciphered blocks are read with `keys`.
int IvrToImage(const std::string& path, std::uint8_t* buffer, std::size_t length,
               const IvrKeys& keys);

// The same over a file the caller opened (read from its start, not closed).
int IvrStreamToImage(std::FILE* file, std::uint8_t* buffer, std::size_t length,
                     const IvrKeys& keys);

// Key number for the enciphered block at image position p (p >= 0). The
// modulus is 31: key 31 is never selected.
int ivrKeyNumber(std::int64_t position);

// Image header length L: the first little-endian word masked with 0x3FFF, times 2.
std::size_t ivrHeaderLength(const std::uint8_t* image, std::size_t length);

// The check word: the negated 16-bit sum of image bytes 0..5 and L..N-1.
std::uint16_t ivrCheckWord(const std::uint8_t* image, std::size_t length);

}  // namespace sonoprog::ivr
