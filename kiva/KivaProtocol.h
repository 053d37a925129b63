#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/StatusTable.h"

// The Kiva300 target of the Writer: its memory, command codes and detect
// statuses, as data.
namespace sonoprog::kiva {

inline constexpr std::size_t kKivaSize = 4096;  // the chip's whole memory, one image
inline constexpr std::size_t kKivaBlock = 48;   // bytes 16..63 of a packet

// Writer command codes of the Kiva300.
enum class Code : std::uint8_t {
    DetectRead = 0x20,
    ReadBlock = 0x21,
    EndRead = 0x22,
    DetectProgram = 0x23,
    ProgramBlock = 0x24,
    EndProgram = 0x25,
};
// The code as it goes into byte 0 of a command packet.
constexpr std::uint8_t byte(Code code) {
    return static_cast<std::uint8_t>(code);
}

// The fail line of every command whose exchange failed.
inline constexpr std::string_view kUsbFailed = "USB failed!";

// The detect statuses and their fail lines. The detect for programming says
// its VDD failure with a leading blank.
inline constexpr core::StatusText kDetectReadRows[] = {
    {0x10, "VDD failed!"},
    {0x11, "VPP failed!"},
    {0x12, "I/O failed!"},
    {0x20, "Device ID failed!"},
};
inline constexpr core::StatusText kDetectProgramRows[] = {
    {0x10, " VDD failed!"},
    {0x11, "VPP failed!"},
    {0x12, "I/O failed!"},
    {0x20, "Device ID failed!"},
};

inline constexpr core::StatusTable kDetectReadStatuses{kDetectReadRows, "Failed!"};
inline constexpr core::StatusTable kDetectProgramStatuses{kDetectProgramRows, "Failed!"};

}  // namespace sonoprog::kiva
