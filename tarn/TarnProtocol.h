#pragma once

#include <cstddef>
#include <cstdint>

#include "core/StatusTable.h"

// The Tarn20 target of the Writer: the chip's geometry, the command codes,
// the status messages (as data) and the texts the commands leave.
namespace sonoprog::tarn {

// Chip geometry.
inline constexpr std::size_t kPageSize = 1024;
inline constexpr std::uint32_t kChipPages = 0x20000;       // 131,072
inline constexpr std::uint32_t kUserPages = 0x1E480;       // pages 0..124,031
inline constexpr std::uint32_t kFirstSparePage = 0x1E480;  // 124,032
inline constexpr std::uint32_t kLastSparePage = 0x1FDFF;   // 130,559
inline constexpr std::uint32_t kFirstMapPage = 0x1FE00;    // 130,560
inline constexpr std::size_t kProgramTailSize = 32;        // 0xFF block after the page
inline constexpr std::size_t kReadLeadSize = 128;          // unused block before the page

enum class Code : std::uint8_t {
    Detect = 0x10,
    Release = 0x11,
    ProgramBegin = 0x12,
    ProgramFinish = 0x13,
    ReadBegin = 0x14,
    ReadFinish = 0x15,
    SetMirror = 0x16,
    PageSum = 0x17,
};
// The code as it goes into byte 0 of a command packet.
constexpr std::uint8_t byte(Code code) {
    return static_cast<std::uint8_t>(code);
}

// Fixed parameters of the detect command.
inline constexpr std::uint8_t kDetectParam1 = 0x45;
inline constexpr std::uint8_t kDetectParam2 = 0xF1;

// The Writer's status bytes and the messages they leave in the holder, per
// command. Page sum answers with the read's statuses.
inline constexpr core::StatusText kDetectRows[] = {
    {0x11, "   [X] VCC failed!"},
    {0x12, "   [X] BUS failed!"},
    {0x13, "   [X] I/O failed!"},
    {0x21, "   [X] Chip does not enter reset mode!"},
    {0x22, "   [X] Chip does not leave reset mode!"},
    {0x30, "   [X] Reset failed!"},
    {0x40, "   [X] Manufacturer ID failed!"},
    {0x41, "   [X] Manufacturer ID failed!"},
};
inline constexpr core::StatusText kProgramFinishRows[] = {
    {0x11, "Chip can not enter program mode!"},
    {0x12, "Chip can not leave program mode!"},
    {0x20, "Program over program failed!"},
};
inline constexpr core::StatusText kReadRows[] = {
    {0x01, "Chip can not enter read mode!"},
    {0x02, "Chip can not leave read mode!"},
};
inline constexpr core::StatusText kSetMirrorRows[] = {
    {0x01, "   [X] Chip can not enter program mode!"},
    {0x02, "   [X] Chip can not leave program mode!"},
};

inline constexpr core::StatusTable kDetectStatuses{kDetectRows, "   [X] Unknow failed!"};
inline constexpr core::StatusTable kProgramFinishStatuses{kProgramFinishRows, "Unknow failed!"};
inline constexpr core::StatusTable kReadStatuses{kReadRows, "Unknow failed!"};
inline constexpr core::StatusTable kSetMirrorStatuses{kSetMirrorRows, "   [X] Unknow failed!"};

inline constexpr const char* kUsbFailed = "USB failed!";
inline constexpr const char* kUsbFailedMarked = "   [X] USB failed!";
inline constexpr const char* kDeviceDetected = "   [O] Device: Tarn20";
inline constexpr const char* kReleased = "   [O] Done";
inline constexpr const char* kDataFailed = "Data failed!";
inline constexpr const char* kCheckSumFailed = "CheckSum failed!";

}  // namespace sonoprog::tarn
