#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace sonoprog::test {

using DesKey = std::array<std::uint8_t, 8>;
using Block = std::array<std::uint8_t, 8>;

// DES straight from libcrypto, for checking the converter against.
Block desDecrypt(const DesKey& key, const Block& in);
Block desEncrypt(const DesKey& key, const Block& in);

// The stored form of a plain block under `key`: DES, then c0 ^= c1 undone
// and c5, c6 exchanged, as a DAT file holds it.
Block storedBlock(const DesKey& key, const Block& plain);

// 32 keys that differ from each other and from the built-in table.
std::vector<DesKey> testKeys();
std::vector<std::uint8_t> keyFileBytes(const std::vector<DesKey>& keys);

}  // namespace sonoprog::test
