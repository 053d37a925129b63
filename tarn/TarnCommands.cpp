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

std::uint32_t pageSum(const std::uint8_t* page) {
    return core::sumBytes(page, kPageSize);
}

const char* statusMessage(Code code, std::uint8_t status) {
    for (const StatusRow& row : kStatusTable)
        if (row.code == code && (row.status == status || row.status == 0)) return row.message;
    return "";
}

TarnCommands::TarnCommands(core::WriterLink& link) : link_(link) {}

bool TarnCommands::fail(std::string& holder, const char* message, bool transfer) {
    holder = message;
    transferFailed_ = transfer;
    return false;
}

bool TarnCommands::exchange(std::string& holder, const char* usbMessage) {
    if (link_.Exchange(command_, reply_)) return true;
    return fail(holder, usbMessage, true);
}

bool TarnCommands::TarnDetect(std::string& holder) {
    command_ = {};
    command_[0] = static_cast<std::uint8_t>(Code::Detect);
    command_[2] = kDetectParam1;
    command_[3] = kDetectParam2;
    if (!exchange(holder, kUsbFailedMarked)) return false;
    if (reply_[1] != 0) return fail(holder, statusMessage(Code::Detect, reply_[1]), false);
    holder = kDeviceDetected;
    return true;
}

bool TarnCommands::TarnDisable(std::string& holder) {
    command_ = {};
    command_[0] = static_cast<std::uint8_t>(Code::Release);
    if (!exchange(holder, kUsbFailedMarked)) return false;
    holder = kReleased;
    return true;
}

bool TarnCommands::TarnProgramPage(std::string& holder, std::uint32_t page,
                                   const std::uint8_t* buffer) {
    static constexpr auto kTail = [] {
        std::array<std::uint8_t, kProgramTailSize> t{};
        t.fill(0xFF);
        return t;
    }();
    command_ = {};
    command_[0] = static_cast<std::uint8_t>(Code::ProgramBegin);
    putPage(command_, page);
    if (!exchange(holder, kUsbFailed)) return false;
    if (!link_.BulkWrite(buffer, kPageSize)) return fail(holder, kUsbFailed, true);
    if (!link_.BulkWrite(kTail.data(), kTail.size())) return fail(holder, kUsbFailed, true);
    // The same packet finishes the page: only the command code changes.
    command_[0] = static_cast<std::uint8_t>(Code::ProgramFinish);
    if (!exchange(holder, kUsbFailed)) return false;
    if (reply_[1] != 0) return fail(holder, statusMessage(Code::ProgramFinish, reply_[1]), false);
    return true;
}

bool TarnCommands::readInto(std::string& holder, std::uint32_t page) {
    command_ = {};
    command_[0] = static_cast<std::uint8_t>(Code::ReadBegin);
    putPage(command_, page);
    if (!exchange(holder, kUsbFailed)) return false;
    // A refused read announces no data: no bulk reads and no finish command.
    if (reply_[1] != 0) return fail(holder, statusMessage(Code::ReadBegin, reply_[1]), false);
    // The leading block lands in the page buffer and is overwritten by the page.
    if (!link_.BulkRead(readBack_.data(), kReadLeadSize)) return fail(holder, kUsbFailed, true);
    if (!link_.BulkRead(readBack_.data(), kPageSize)) return fail(holder, kUsbFailed, true);
    command_[0] = static_cast<std::uint8_t>(Code::ReadFinish);
    return exchange(holder, kUsbFailed);
}

bool TarnCommands::TarnComparePage(std::string& holder, std::uint32_t page,
                                   const std::uint8_t* expected, std::uint32_t& errors) {
    if (!readInto(holder, page)) return false;
    // Nearly every page reads back exactly: memcmp settles that at memory
    // speed, and only a page that differs is counted byte by byte.
    if (std::memcmp(readBack_.data(), expected, kPageSize) == 0) {
        errors = 0;
        return true;
    }
    // Wrong bytes, not wrong bits: a byte with several flipped bits is one error.
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < kPageSize; ++i) count += readBack_[i] != expected[i];
    errors = count;
    return true;
}

bool TarnCommands::TarnReadPage(std::string& holder, std::uint32_t page, std::uint8_t* buffer) {
    if (!readInto(holder, page)) return false;
    std::memcpy(buffer, readBack_.data(), kPageSize);
    return true;
}

bool TarnCommands::TarnSetMirror(std::string& holder, std::uint32_t badPage,
                                 std::uint32_t sparePage) {
    const MirrorEntry e = mirrorEntry(badPage, sparePage);
    command_ = {};
    command_[0] = static_cast<std::uint8_t>(Code::SetMirror);
    core::put24(command_, 2, e.mapPage);
    command_[5] = static_cast<std::uint8_t>(e.offset);
    command_[6] = static_cast<std::uint8_t>(e.offset >> 8);
    command_[7] = static_cast<std::uint8_t>(e.value);
    command_[8] = static_cast<std::uint8_t>(e.value >> 8);
    if (!exchange(holder, kUsbFailedMarked)) return false;
    if (reply_[1] != 0) return fail(holder, statusMessage(Code::SetMirror, reply_[1]), false);
    return true;
}

bool TarnCommands::TarnWriteInfoPage(std::string& holder, std::uint32_t page,
                                     const std::uint8_t* buffer) {
    if (!TarnProgramPage(holder, page, buffer)) return false;
    // The code information must read back exactly, three times over.
    for (int read = 0; read < 3; ++read) {
        std::uint32_t errors = 0;
        if (!TarnComparePage(holder, page, buffer, errors)) return false;
        if (errors != 0) return fail(holder, kDataFailed, false);
    }
    return true;
}

bool TarnCommands::TarnWriteDataPage(std::string& holder, std::uint32_t page,
                                     const std::uint8_t* buffer) {
    if (!TarnProgramPage(holder, page, buffer)) return false;
    const std::uint32_t sum = pageSum(buffer);
    command_ = {};
    command_[0] = static_cast<std::uint8_t>(Code::PageSum);
    putPage(command_, page);
    if (!exchange(holder, kUsbFailedMarked)) return false;
    if (reply_[1] != 0) return fail(holder, statusMessage(Code::PageSum, reply_[1]), false);
    if (core::get24(reply_, 2) != sum) return fail(holder, kCheckSumFailed, false);
    std::uint32_t errors = 0;
    if (!TarnComparePage(holder, page, buffer, errors)) return false;
    if (errors != 0) return fail(holder, kDataFailed, false);
    return true;
}

}  // namespace sonoprog::tarn
