#include "sim/SerialFlashChip.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "serialflash/SerialFlashProtocol.h"

namespace sonoprog::sim {

namespace {
using serialflash::byte;
using serialflash::Code;
constexpr std::uint8_t kDetect = byte(Code::Detect);
constexpr std::uint8_t kErase = byte(Code::Erase);
constexpr std::uint8_t kWriteBlock = byte(Code::WriteBlock);
constexpr std::uint8_t kReadBlock = byte(Code::ReadBlock);
constexpr std::uint8_t kDisable = byte(Code::Disable);
constexpr std::uint8_t kDetectParameter = serialflash::kDetectParameter;
constexpr std::size_t kDataAt = serialflash::kDataAt;
constexpr std::size_t kBlock = serialflash::kBlockSize;

std::string hexByte(std::uint8_t value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", value);
    return buf;
}
}  // namespace

SerialFlashChip::SerialFlashChip() : SerialFlashChip(kMaxSize, 0xEF, 0x17) {
    anyIds_ = true;
}

SerialFlashChip::SerialFlashChip(std::size_t size, std::uint8_t mid, std::uint8_t did)
    : mid_(mid), did_(did) {
    setSize(size);
}

void SerialFlashChip::setSize(std::size_t size) {
    memory_ = std::make_unique<ChipMemory>(std::clamp<std::size_t>(size, 1, kMaxSize));
}

void SerialFlashChip::setIds(std::uint8_t mid, std::uint8_t did) {
    mid_ = mid;
    did_ = did;
    anyIds_ = false;
}

bool SerialFlashChip::handles(std::uint8_t code) const {
    return (code >= kDetect && code <= kReadBlock) || code == kDisable;
}

std::uint8_t SerialFlashChip::detect(const Packet& command) {
    if (command[2] != kDetectParameter) return kSpeedStatus;
    if (anyIds_) return 0;
    if (command[3] != mid_) return kManufacturerIdStatus;
    if (command[4] != did_) return kDeviceIdStatus;
    return 0;
}

template <typename Copy>
void SerialFlashChip::wrapped(std::uint32_t address, std::size_t length, Copy copy) {
    // Like the address counter of a real part, the range wraps at the end of the chip.
    std::size_t at = address % memory_->size();
    for (std::size_t done = 0; done < length;) {
        std::size_t take = std::min(length - done, memory_->size() - at);
        copy(at, done, take);
        done += take;
        at = 0;
    }
}

std::vector<BulkPhase> SerialFlashChip::command(const Packet& command, Packet& reply) {
    const std::uint8_t code = command[0];
    const std::uint8_t forced = statuses_.next(code);
    const bool needsPass = code == kErase || code == kWriteBlock || code == kReadBlock;
    if (needsPass && !detected_) {
        protocolErrors.push_back("serial flash command " + hexByte(code) +
                                 " outside a detect pass");
        reply[1] = kRefusedStatus;
        return {};
    }
    reply[1] = forced;
    switch (code) {
        case kDetect:
            if (!forced) reply[1] = detect(command);
            detected_ = reply[1] == 0;
            break;
        case kErase:
            if (eraseTime_.count() > 0) std::this_thread::sleep_for(eraseTime_);
            if (!forced) memory_->erase();
            break;
        case kWriteBlock: {
            const std::size_t n = command[5];
            if (n < 1 || n > kBlock) {
                protocolErrors.push_back("serial flash write block of " + std::to_string(n) +
                                         " bytes");
                reply[1] = kRefusedStatus;
                break;
            }
            // A block may cross a page boundary; the Writer programs it all the same.
            if (!forced)
                wrapped(core::get24(command, 2), n,
                        [&](std::size_t at, std::size_t from, std::size_t take) {
                            memory_->program(at, command.data() + kDataAt + from, take);
                        });
            break;
        }
        case kReadBlock:
            // 48 bytes whatever byte 5 asks for.
            wrapped(core::get24(command, 2), kBlock,
                    [&](std::size_t at, std::size_t to, std::size_t take) {
                        memory_->read(at, reply.data() + kDataAt + to, take);
                    });
            break;
        case kDisable:
            detected_ = false;
            break;
        default:
            break;
    }
    return {};
}

}  // namespace sonoprog::sim
