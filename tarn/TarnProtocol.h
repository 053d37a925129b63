#pragma once

#include <cstddef>
#include <cstdint>

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

// Fixed parameters of the detect command.
inline constexpr std::uint8_t kDetectParam1 = 0x45;
inline constexpr std::uint8_t kDetectParam2 = 0xF1;

// A failing status of a command and the message it leaves in the holder.
struct StatusRow {
    Code code;
    std::uint8_t status;  // 0 = any other non-zero status (always the command's last row)
    const char* message;
};

// The Writer's status bytes and the messages they leave in the holder.
inline constexpr StatusRow kStatusTable[] = {
    {Code::Detect, 0x11, "   [X] VCC failed!"},
    {Code::Detect, 0x12, "   [X] BUS failed!"},
    {Code::Detect, 0x13, "   [X] I/O failed!"},
    {Code::Detect, 0x21, "   [X] Chip does not enter reset mode!"},
    {Code::Detect, 0x22, "   [X] Chip does not leave reset mode!"},
    {Code::Detect, 0x30, "   [X] Reset failed!"},
    {Code::Detect, 0x40, "   [X] Manufacturer ID failed!"},
    {Code::Detect, 0x41, "   [X] Manufacturer ID failed!"},
    {Code::Detect, 0, "   [X] Unknow failed!"},
    {Code::ProgramFinish, 0x11, "Chip can not enter program mode!"},
    {Code::ProgramFinish, 0x12, "Chip can not leave program mode!"},
    {Code::ProgramFinish, 0x20, "Program over program failed!"},
    {Code::ProgramFinish, 0, "Unknow failed!"},
    {Code::ReadBegin, 0x01, "Chip can not enter read mode!"},
    {Code::ReadBegin, 0x02, "Chip can not leave read mode!"},
    {Code::ReadBegin, 0, "Unknow failed!"},
    {Code::PageSum, 0x01, "Chip can not enter read mode!"},
    {Code::PageSum, 0x02, "Chip can not leave read mode!"},
    {Code::PageSum, 0, "Unknow failed!"},
    {Code::SetMirror, 0x01, "   [X] Chip can not enter program mode!"},
    {Code::SetMirror, 0x02, "   [X] Chip can not leave program mode!"},
    {Code::SetMirror, 0, "   [X] Unknow failed!"},
};

inline constexpr const char* kUsbFailed = "USB failed!";
inline constexpr const char* kUsbFailedMarked = "   [X] USB failed!";
inline constexpr const char* kDeviceDetected = "   [O] Device: Tarn20";
inline constexpr const char* kReleased = "   [O] Done";
inline constexpr const char* kDataFailed = "Data failed!";
inline constexpr const char* kCheckSumFailed = "CheckSum failed!";

}  // namespace sonoprog::tarn
