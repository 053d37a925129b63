#include "SerialFlashChip.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace sonoprog::sim {

namespace {
constexpr std::uint8_t kDetect = 0x30;
constexpr std::uint8_t kErase = 0x31;
constexpr std::uint8_t kWriteBlock = 0x32;
constexpr std::uint8_t kReadBlock = 0x33;
constexpr std::uint8_t kDisable = 0x3F;
constexpr std::uint8_t kDetectParameter = 0x10;
constexpr std::size_t kDataAt = 16;
constexpr std::size_t kBlock = 48;

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

bool SerialFlashChip::refuseOutsidePass(std::uint8_t code) {
    if (detected_) return false;
    protocolErrors.push_back("serial flash command " + hexByte(code) + " outside a detect pass");
    return true;
}

std::vector<BulkPhase> SerialFlashChip::command(const Packet& command, Packet& reply) {
    const std::uint8_t code = command[0];
    const std::uint8_t forced = statuses_.next(code);
    switch (code) {
        case kDetect: {
            std::uint8_t status = forced ? forced : detect(command);
            detected_ = status == 0;
            reply[1] = status;
            break;
        }
        case kErase: {
            if (refuseOutsidePass(code)) {
                reply[1] = kRefusedStatus;
                break;
            }
            if (eraseTime_.count() > 0) std::this_thread::sleep_for(eraseTime_);
            if (forced == 0) memory_->erase();
            reply[1] = forced;
            break;
        }
        case kWriteBlock: {
            const std::size_t n = command[5];
            if (refuseOutsidePass(code)) {
                reply[1] = kRefusedStatus;
                break;
            }
            if (n < 1 || n > kBlock) {
                protocolErrors.push_back("serial flash write block of " + std::to_string(n) +
                                         " bytes");
                reply[1] = kRefusedStatus;
                break;
            }
            if (forced == 0) {
                // A block may cross a page boundary (the Writer handles that) and
                // wraps at the end of the chip as the address counter of a real part does.
                std::size_t at = wrap(link::get24(command, 2));
                for (std::size_t done = 0; done < n;) {
                    std::size_t take = std::min(n - done, memory_->size() - at);
                    memory_->program(at, command.data() + kDataAt + done, take);
                    done += take;
                    at = 0;
                }
            }
            reply[1] = forced;
            break;
        }
        case kReadBlock: {
            if (refuseOutsidePass(code)) {
                reply[1] = kRefusedStatus;
                break;
            }
            // 48 bytes whatever byte 5 asks for, wrapping at the end of the chip.
            std::size_t at = wrap(link::get24(command, 2));
            for (std::size_t done = 0; done < kBlock;) {
                std::size_t take = std::min(kBlock - done, memory_->size() - at);
                memory_->read(at, reply.data() + kDataAt + done, take);
                done += take;
                at = 0;
            }
            reply[1] = forced;
            break;
        }
        case kDisable:
            detected_ = false;
            reply[1] = forced;
            break;
        default:
            break;
    }
    return {};
}

}  // namespace sonoprog::sim
