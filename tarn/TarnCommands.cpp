#include "tarn/TarnCommands.h"

#include <cstring>

#include "core/ImageSum.h"

namespace sonoprog::tarn {

namespace {

void putPage(core::Packet& p, std::uint32_t page) {
    core::put24(p, 2, page);
}

}  // namespace

MirrorEntry mirrorEntry(std::uint32_t badPage, std::uint32_t sparePage) {
    MirrorEntry e;
    e.mapPage = kFirstMapPage + (badPage >> 8);
    e.offset = static_cast<std::uint16_t>(((badPage >> 2) & 63) * 16 + (badPage & 3) * 2);
    e.value = static_cast<std::uint16_t>(sparePage & 0xFFFF);
    return e;
}

std::optional<std::uint32_t> mirrorSpare(std::uint8_t low, std::uint8_t high) {
    // Every spare page lies above 0x10000, so the entry keeps only its low 16 bits.
    const std::uint32_t spare = 0x10000u | low | (std::uint32_t{high} << 8);
    if (spare < kFirstSparePage || spare > kLastSparePage) return std::nullopt;
    return spare;
}

std::uint32_t pageSum(const std::uint8_t* page) {
    return core::sumBytes(page, kPageSize);
}

std::string_view statusMessage(Code code, std::uint8_t status) {
    switch (code) {
        case Code::Detect:
            return kDetectStatuses.text(status);
        case Code::ProgramFinish:
            return kProgramFinishStatuses.text(status);
        case Code::ReadBegin:
        case Code::PageSum:
            return kReadStatuses.text(status);
        case Code::SetMirror:
            return kSetMirrorStatuses.text(status);
        default:
            return {};
    }
}

TarnCommands::TarnCommands(core::WriterLink& link) : link_(link) {}

namespace {

using core::CommandResult;

CommandResult transferFailed(const char* message) {
    return CommandResult::transferFailure(message);
}

}  // namespace

CommandResult TarnCommands::refused(Code code) const {
    return CommandResult::chipFailure(statusMessage(code, reply_[1]), reply_[1]);
}

CommandResult TarnCommands::TarnDetect() {
    command_ = {};
    command_[0] = byte(Code::Detect);
    command_[2] = kDetectParam1;
    command_[3] = kDetectParam2;
    if (!exchange()) return transferFailed(kUsbFailedMarked);
    if (reply_[1] != 0) return refused(Code::Detect);
    return CommandResult::success(kDeviceDetected);
}

CommandResult TarnCommands::TarnDisable() {
    command_ = {};
    command_[0] = byte(Code::Release);
    if (!exchange()) return transferFailed(kUsbFailedMarked);
    return CommandResult::success(kReleased);
}

CommandResult TarnCommands::TarnProgramPage(std::uint32_t page, const std::uint8_t* buffer) {
    static constexpr auto kTail = [] {
        std::array<std::uint8_t, kProgramTailSize> t{};
        t.fill(0xFF);
        return t;
    }();
    command_ = {};
    command_[0] = byte(Code::ProgramBegin);
    putPage(command_, page);
    if (!exchange()) return transferFailed(kUsbFailed);
    if (!link_.BulkWrite(buffer, kPageSize)) return transferFailed(kUsbFailed);
    if (!link_.BulkWrite(kTail.data(), kTail.size())) return transferFailed(kUsbFailed);
    // The same packet finishes the page: only the command code changes.
    command_[0] = byte(Code::ProgramFinish);
    if (!exchange()) return transferFailed(kUsbFailed);
    if (reply_[1] != 0) return refused(Code::ProgramFinish);
    return CommandResult::success();
}

CommandResult TarnCommands::readInto(std::uint32_t page) {
    command_ = {};
    command_[0] = byte(Code::ReadBegin);
    putPage(command_, page);
    if (!exchange()) return transferFailed(kUsbFailed);
    // A refused read announces no data: no bulk reads and no finish command.
    if (reply_[1] != 0) return refused(Code::ReadBegin);
    // The leading block lands in the page buffer and is overwritten by the page.
    if (!link_.BulkRead(readBack_.data(), kReadLeadSize)) return transferFailed(kUsbFailed);
    if (!link_.BulkRead(readBack_.data(), kPageSize)) return transferFailed(kUsbFailed);
    command_[0] = byte(Code::ReadFinish);
    if (!exchange()) return transferFailed(kUsbFailed);
    return CommandResult::success();
}

CommandResult TarnCommands::TarnComparePage(std::uint32_t page, const std::uint8_t* expected,
                                            std::uint32_t& errors) {
    CommandResult read = readInto(page);
    if (!read) return read;
    // Nearly every page reads back exactly: memcmp settles that at memory
    // speed, and only a page that differs is counted byte by byte.
    if (std::memcmp(readBack_.data(), expected, kPageSize) == 0) {
        errors = 0;
        return read;
    }
    // Wrong bytes, not wrong bits: a byte with several flipped bits is one error.
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < kPageSize; ++i) count += readBack_[i] != expected[i];
    errors = count;
    return read;
}

CommandResult TarnCommands::TarnReadPage(std::uint32_t page, std::uint8_t* buffer) {
    CommandResult read = readInto(page);
    if (read) std::memcpy(buffer, readBack_.data(), kPageSize);
    return read;
}

CommandResult TarnCommands::TarnSetMirror(std::uint32_t badPage, std::uint32_t sparePage) {
    const MirrorEntry e = mirrorEntry(badPage, sparePage);
    command_ = {};
    command_[0] = byte(Code::SetMirror);
    core::put24(command_, 2, e.mapPage);
    command_[5] = static_cast<std::uint8_t>(e.offset);
    command_[6] = static_cast<std::uint8_t>(e.offset >> 8);
    command_[7] = static_cast<std::uint8_t>(e.value);
    command_[8] = static_cast<std::uint8_t>(e.value >> 8);
    if (!exchange()) return transferFailed(kUsbFailedMarked);
    if (reply_[1] != 0) return refused(Code::SetMirror);
    return CommandResult::success();
}

CommandResult TarnCommands::TarnWriteInfoPage(std::uint32_t page, const std::uint8_t* buffer) {
    CommandResult programmed = TarnProgramPage(page, buffer);
    if (!programmed) return programmed;
    // The code information must read back exactly, three times over.
    for (int read = 0; read < 3; ++read) {
        std::uint32_t errors = 0;
        CommandResult compared = TarnComparePage(page, buffer, errors);
        if (!compared) return compared;
        if (errors != 0) return CommandResult::chipFailure(kDataFailed);
    }
    return CommandResult::success();
}

CommandResult TarnCommands::TarnWriteDataPage(std::uint32_t page, const std::uint8_t* buffer) {
    CommandResult programmed = TarnProgramPage(page, buffer);
    if (!programmed) return programmed;
    const std::uint32_t sum = pageSum(buffer);
    command_ = {};
    command_[0] = byte(Code::PageSum);
    putPage(command_, page);
    if (!exchange()) return transferFailed(kUsbFailedMarked);
    if (reply_[1] != 0) return refused(Code::PageSum);
    if (core::get24(reply_, 2) != sum) return CommandResult::chipFailure(kCheckSumFailed);
    std::uint32_t errors = 0;
    CommandResult compared = TarnComparePage(page, buffer, errors);
    if (!compared) return compared;
    if (errors != 0) return CommandResult::chipFailure(kDataFailed);
    return CommandResult::success();
}

}  // namespace sonoprog::tarn
