#include "serialflash/SerialFlashCommands.h"

namespace sonoprog::serialflash {

std::string_view detectStatusMessage(std::uint8_t status) {
    return kDetectStatuses.text(status);
}
std::string_view eraseStatusMessage(std::uint8_t status) {
    return kEraseStatuses.text(status);
}
std::string_view writeStatusMessage(std::uint8_t status) {
    return kWriteStatuses.text(status);
}

bool SerialFlashCommands::send(Code code) {
    command_[0] = byte(code);
    return link_.Exchange(command_, reply_);
}

void SerialFlashCommands::setAddress(std::uint32_t address, std::uint8_t count) {
    core::put24(command_, kAddressAt, address);
    command_[kCountAt] = count;
}

core::CommandResult SerialFlashCommands::judged(Code code,
                                                std::string_view (*statuses)(std::uint8_t)) {
    if (!send(code)) return core::CommandResult::transferFailure(kUsbFailed);
    if (reply_[1] != 0) return core::CommandResult::chipFailure(statuses(reply_[1]), reply_[1]);
    return core::CommandResult::success();
}

core::CommandResult SerialFlashCommands::detect(std::uint8_t mid, std::uint8_t did) {
    command_[2] = kDetectParameter;
    command_[3] = mid;
    command_[4] = did;
    return judged(Code::Detect, detectStatusMessage);
}

core::CommandResult SerialFlashCommands::erase() {
    return judged(Code::Erase, eraseStatusMessage);
}

core::CommandResult SerialFlashCommands::writeBlock(std::uint32_t address, std::uint8_t count) {
    setAddress(address, count);
    return judged(Code::WriteBlock, writeStatusMessage);
}

core::CommandResult SerialFlashCommands::readBlock(std::uint32_t address, std::uint8_t count) {
    setAddress(address, count);
    if (!send(Code::ReadBlock)) return core::CommandResult::transferFailure(kUsbFailed);
    return core::CommandResult::success();
}

core::CommandResult SerialFlashCommands::disable() {
    if (!send(Code::Disable)) return core::CommandResult::transferFailure(kUsbFailed);
    return core::CommandResult::success();
}

}  // namespace sonoprog::serialflash
