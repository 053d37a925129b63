#include "sim/Socket.h"

namespace sonoprog::sim {

namespace {

// The detect and closing codes of the three targets: Tarn20, serial flash,
// Kiva300 (reading and programming).
constexpr std::uint8_t kTarnDetect = 0x10, kTarnRelease = 0x11;
constexpr std::uint8_t kSerialFlashDetect = 0x30, kSerialFlashDisable = 0x3F;
constexpr std::uint8_t kKivaDetectRead = 0x20, kKivaEndRead = 0x22;
constexpr std::uint8_t kKivaDetectProgram = 0x23, kKivaEndProgram = 0x25;

}  // namespace

SocketModel::SocketModel(SocketScript script) : script_(std::move(script)) {
    if (script_.units > 0) {
        current_ = 1;
        present_ = true;
    }
}

bool SocketModel::isDetect(std::uint8_t code) {
    return code == kTarnDetect || code == kSerialFlashDetect || code == kKivaDetectRead ||
           code == kKivaDetectProgram;
}

bool SocketModel::isClosing(std::uint8_t code) {
    return code == kTarnRelease || code == kSerialFlashDisable || code == kKivaEndRead ||
           code == kKivaEndProgram;
}

std::uint8_t SocketModel::emptyStatus(std::uint8_t detectCode) {
    // Nothing answers in an empty socket: each target's identification fails.
    switch (detectCode) {
        case kTarnDetect:
            return 0x40;  // Manufacturer ID failed
        case kSerialFlashDetect:
            return 0x02;  // Manufacturer's ID failed
        default:
            return 0x20;  // Kiva300: Device ID failed
    }
}

std::uint8_t SocketModel::badStatus(std::uint8_t detectCode) {
    switch (detectCode) {
        case kTarnDetect:
            return 0x11;  // VCC failed
        case kSerialFlashDetect:
            return 0x01;  // Speed failed
        default:
            return 0x10;  // Kiva300: VDD failed
    }
}

std::optional<std::uint8_t> SocketModel::beforeCommand(std::uint8_t code) {
    if (isDetect(code)) {
        if (!present_ && due_ && now_() >= *due_) {
            insertedAt_ = due_;
            due_.reset();
            insertNext();
        }
        inPass_ = true;
        passAfterUnit_ = unitSeen_;
        passMovedData_ = false;
        passFoundEmpty_ = !present_;
        if (!present_) return emptyStatus(code);
        if (probed_ && script_.bad.count(current_)) {
            unitSeen_ = true;
            return badStatus(code);
        }
        return std::nullopt;
    }
    if (isClosing(code)) return std::nullopt;
    passMovedData_ = true;
    if (present_ && probed_) unitSeen_ = true;
    return std::nullopt;
}

void SocketModel::afterCommand(std::uint8_t code, std::uint8_t status) {
    if (isDetect(code)) {
        if (present_ && status == 0) probed_ = true;
        return;
    }
    if (!isClosing(code) || !inPass_) return;
    inPass_ = false;
    if (passFoundEmpty_) {
        if (script_.swap.count() == 0) {
            insertedAt_ = now_();
            insertNext();
        } else if (!due_ && current_ < script_.units) {
            due_ = now_() + script_.swap;
        }
    } else if (present_ && passAfterUnit_ && !passMovedData_) {
        // The poll after the unit has seen the chip: the operator takes it out.
        present_ = false;
    }
}

void SocketModel::insertNext() {
    if (current_ >= script_.units) return;
    ++current_;
    present_ = true;
    probed_ = false;
    unitSeen_ = false;
    if (onInsert_) onInsert_();
}

}  // namespace sonoprog::sim
