#include "sim/TarnChip.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tarn/TarnProtocol.h"

namespace sonoprog::sim {

namespace {

using tarn::byte;
using tarn::Code;
constexpr std::uint8_t kDetect = byte(Code::Detect);
constexpr std::uint8_t kRelease = byte(Code::Release);
constexpr std::uint8_t kProgramBegin = byte(Code::ProgramBegin);
constexpr std::uint8_t kProgramFinish = byte(Code::ProgramFinish);
constexpr std::uint8_t kReadBegin = byte(Code::ReadBegin);
constexpr std::uint8_t kReadFinish = byte(Code::ReadFinish);
constexpr std::uint8_t kSetMirror = byte(Code::SetMirror);
constexpr std::uint8_t kPageSum = byte(Code::PageSum);

// What the chip answers to a command it cannot carry out (a page outside it).
constexpr std::uint8_t kRefused = 0xFF;

constexpr std::size_t kProgramTail = tarn::kProgramTailSize;
constexpr std::size_t kReadLead = tarn::kReadLeadSize;

bool allErased(const std::uint8_t* data, std::size_t length) {
    return std::all_of(data, data + length, [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

TarnChip::TarnChip() : memory_(std::size_t{kPages} * kPageSize), wrong_(kPages, 0) {}

void TarnChip::setBadPage(std::uint32_t page, std::uint16_t wrongBytes) {
    if (page >= kPages) return;
    wrong_[page] = std::clamp<std::uint16_t>(wrongBytes, 1, kPageSize);
}

void TarnChip::setBadPages(std::uint32_t first, std::uint32_t count, std::uint16_t wrongBytes) {
    for (std::uint32_t i = 0; i < count && first + i < kPages; ++i)
        setBadPage(first + i, wrongBytes);
}

void TarnChip::clearBadPages() {
    std::fill(wrong_.begin(), wrong_.end(), 0);
    attempted_.clear();
}

void TarnChip::readPage(std::uint32_t page, std::uint8_t* out) const {
    memory_.read(std::size_t{page} * kPageSize, out, kPageSize);
}

std::vector<std::uint8_t> TarnChip::page(std::uint32_t page) const {
    std::vector<std::uint8_t> out(kPageSize);
    readPage(page, out.data());
    return out;
}

std::uint8_t TarnChip::byteAt(std::uint32_t page, std::size_t offset) const {
    return memory_.read(std::size_t{page} * kPageSize + offset);
}

void TarnChip::writePage(std::uint32_t page, const std::uint8_t* data) {
    memory_.write(std::size_t{page} * kPageSize, data, kPageSize);
}

void TarnChip::erase() {
    memory_.erase();
    attempted_.clear();
}

void TarnChip::error(std::uint8_t code, const char* what) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "Tarn20 0x%02X: %s", code, what);
    protocolErrors.emplace_back(buf);
}

bool TarnChip::checkPage(std::uint8_t code, std::uint32_t page) {
    if (page < kPages) return true;
    error(code, "page outside the chip");
    return false;
}

void TarnChip::sensePage(std::uint32_t page, std::uint8_t* out) const {
    const std::uint16_t wrong = wrong_[page];
    if (wrong == 0) {
        readPage(page, out);
        return;
    }
    // A bad page reads back what it was given, with its wrong bytes flipped
    // whole, so that a wrong byte is wrong in every bit.
    auto it = attempted_.find(page);
    if (it != attempted_.end())
        std::memcpy(out, it->second->data(), kPageSize);
    else
        readPage(page, out);
    for (std::size_t i = 0; i < wrong; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
}

std::vector<BulkPhase> TarnChip::command(const Packet& command, Packet& reply) {
    const std::uint8_t code = command[0];
    const std::uint32_t page = core::get24(command, 2);
    const std::uint8_t forced = statuses_.next(code);
    if (code != kDetect && code != kRelease && !detected_) error(code, "sent before a detect");

    switch (code) {
        case kDetect: {
            if (command[2] != tarn::kDetectParam1 || command[3] != tarn::kDetectParam2)
                error(code, "wrong detect parameters");
            const std::uint8_t status = forced ? forced : detectStatus_;
            detected_ = status == 0;
            reply[1] = status;
            return {};
        }
        case kRelease:
            if (programPending_ || readPending_) error(code, "release inside a page pass");
            detected_ = false;
            programPending_ = readPending_ = false;
            reply[1] = forced;
            return {};
        case kProgramBegin:
            if (programPending_) error(code, "program begun twice");
            programPending_ = true;
            programDataIn_ = false;
            programPage_ = page;
            reply[1] = forced;
            return {{BulkDirection::Out, kPageSize}, {BulkDirection::Out, kProgramTail}};
        case kProgramFinish: {
            std::uint8_t status = forced;
            if (!programPending_ || !programDataIn_ || page != programPage_) {
                error(code, "finish without its program pass");
                status = status ? status : kRefused;
            } else if (!checkPage(code, page)) {
                status = status ? status : kRefused;
            }
            if (status == 0) {
                ++programmed_;
                if (wrong_[page] != 0) {
                    auto& slot = attempted_[page];
                    if (!slot) slot = std::make_unique<std::array<std::uint8_t, kPageSize>>();
                    std::memcpy(slot->data(), programData_.data(), kPageSize);
                } else if (!allErased(programData_.data(), kPageSize)) {
                    // Programming 0xFF changes nothing; skipping it keeps an
                    // erased image from costing memory.
                    memory_.program(std::size_t{page} * kPageSize, programData_.data(), kPageSize);
                }
            }
            programPending_ = false;
            reply[1] = status;
            return {};
        }
        case kReadBegin:
            if (readPending_) error(code, "read begun twice");
            if (forced) {
                reply[1] = forced;
                return {};
            }
            if (!checkPage(code, page)) {
                reply[1] = kRefused;
                return {};
            }
            readPending_ = true;
            readPage_ = page;
            return {{BulkDirection::In, kReadLead}, {BulkDirection::In, kPageSize}};
        case kReadFinish:
            if (!readPending_ || page != readPage_) error(code, "finish without its read pass");
            readPending_ = false;
            reply[1] = forced;
            return {};
        case kSetMirror: {
            const std::size_t offset = command[5] | (std::size_t{command[6]} << 8);
            std::uint8_t status = forced;
            if (page < kFirstMapPage || page >= kPages || offset + 2 > kPageSize) {
                error(code, "map entry outside the mirror map");
                status = status ? status : kRefused;
            }
            if (status == 0) {
                // Low byte first, programmed like any other flash byte.
                memory_.program(std::size_t{page} * kPageSize + offset, &command[7], 2);
            }
            reply[1] = status;
            return {};
        }
        case kPageSum: {
            std::uint8_t status = forced;
            if (!checkPage(code, page)) status = status ? status : kRefused;
            if (status == 0) {
                std::array<std::uint8_t, kPageSize> held;
                sensePage(page, held.data());
                std::uint32_t sum = 0;
                for (std::uint8_t b : held) sum += b;
                core::put24(reply, 2, sum);
            }
            reply[1] = status;
            return {};
        }
    }
    reply[1] = kRefused;
    return {};
}

void TarnChip::bulkOut(std::size_t phase, const std::uint8_t* data, std::size_t length) {
    if (phase == 0) {
        std::memcpy(programData_.data(), data, std::min(length, kPageSize));
    } else {
        if (!allErased(data, length)) error(kProgramBegin, "tail block is not all 0xFF");
        programDataIn_ = true;
    }
}

void TarnChip::bulkIn(std::size_t phase, std::uint8_t* data, std::size_t length) {
    if (phase == 0) {
        std::memset(data, 0, length);
    } else if (length == kPageSize) {
        sensePage(readPage_, data);
    }
}

}  // namespace sonoprog::sim
