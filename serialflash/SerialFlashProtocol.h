#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/StatusTable.h"

// The serial flash target of the Writer: command codes, packet layout, the
// settings' list section and the status messages, as data.
namespace sonoprog::serialflash {

// Writer command codes of the serial flash target.
enum class Code : std::uint8_t {
    Detect = 0x30,
    Erase = 0x31,
    WriteBlock = 0x32,
    ReadBlock = 0x33,
    Disable = 0x3F,
};
// The code as it goes into byte 0 of a command packet.
constexpr std::uint8_t byte(Code code) {
    return static_cast<std::uint8_t>(code);
}

// Byte 2 of chip detect; its meaning belongs to the Writer.
inline constexpr std::uint8_t kDetectParameter = 0x10;

inline constexpr std::size_t kAddressAt = 2;  // bytes 2-4, least significant first
inline constexpr std::size_t kCountAt = 5;
inline constexpr std::size_t kDataAt = 16;  // bytes 16-63
inline constexpr std::size_t kBlockSize = 48;

// Addresses travel in 24 bits: nothing at or above this can be reached
// without wrapping onto the start of the chip.
inline constexpr std::uint64_t kAddressSpace = 1ull << 24;

inline constexpr std::string_view kListSection = "Series Flash List";
inline constexpr std::string_view kUsbFailed = "USB failed!";
inline constexpr std::string_view kNoDeviceInfo = "Failed to get device infomation!";

// Any status a table does not list.
inline constexpr std::string_view kOtherStatus = "Failed!";

// Chip detect, erase and write block.
inline constexpr core::StatusText kDetectRows[] = {
    {0x01, "Speed failed!"},
    {0x02, "Manufacturer's ID failed!"},
    {0x03, "Device ID failed!"},
};
inline constexpr core::StatusText kEraseRows[] = {
    {0x10, "Can not remove momory protect!"},
    {0x20, "Can not write memory!"},
    {0x21, "Can not start to erase memory!"},
    {0x22, "Can not end of erase memory!"},
};
inline constexpr core::StatusText kWriteRows[] = {
    {0x10, "Can not write memory!"},
    {0x11, "Can not start to write memory!"},
    {0x12, "Can not end of write memory!"},
};

inline constexpr core::StatusTable kDetectStatuses{kDetectRows, kOtherStatus};
inline constexpr core::StatusTable kEraseStatuses{kEraseRows, kOtherStatus};
inline constexpr core::StatusTable kWriteStatuses{kWriteRows, kOtherStatus};

}  // namespace sonoprog::serialflash
