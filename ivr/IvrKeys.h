#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace sonoprog::ivr {

inline constexpr std::size_t kIvrKeyCount = 32;
inline constexpr std::size_t kIvrKeyFileSize = kIvrKeyCount * 8;
inline constexpr const char* kIvrKeyFileName = "IvrKeys.bin";

// The key table DAT files are enciphered with: the built-in keys, or those of
// an installation's own IvrKeys.bin. Every front end loads it once at start-up
// from the program's folder and hands it to what decodes or encodes, so that
// the window and the command line read a DAT file alike. Copies share the
// DES schedules, made once.
class IvrKeys {
public:
    using Table = std::array<std::array<std::uint8_t, 8>, kIvrKeyCount>;

    // The built-in table.
    IvrKeys();
    explicit IvrKeys(const Table& keys);

    // IvrKeys.bin in `folder` when it is a regular file of exactly 256 bytes,
    // else the built-in table.
    static IvrKeys fromFolder(const std::filesystem::path& folder);

    // True when the table came from a key file.
    bool fromKeyFile() const { return fromKeyFile_; }

    // Single-block DES under key `key` (0..31).
    void decipherBlock(int key, const std::uint8_t in[8], std::uint8_t out[8]) const;
    void encipherBlock(int key, const std::uint8_t in[8], std::uint8_t out[8]) const;

private:
    struct Schedules;
    std::shared_ptr<Schedules> schedules_;  // never changed once made
    bool fromKeyFile_ = false;
};

}  // namespace sonoprog::ivr
