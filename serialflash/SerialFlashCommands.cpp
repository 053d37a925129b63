#include "serialflash/SerialFlashCommands.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

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

SerialFlashDevice readDevice(const core::IniFile& ini, std::string_view name) {
    SerialFlashDevice device;
    device.name = std::string(name);
    if (name.empty()) return device;
    device.size = ini.readInteger(name, "Size", 0, true);
    device.mid = ini.readInteger(name, "MID", 0, true);
    device.did = ini.readInteger(name, "DID", 0, true);
    if (device.size > static_cast<std::int64_t>(kAddressSpace)) {
        device.refusedSize = device.size;
        device.size = device.mid = device.did = 0;
    }
    return device;
}

SerialFlashDevice lookupDevice(const core::AppPaths& paths, std::string_view name) {
    return readDevice(core::IniFile::load(paths.setupIni()), name);
}

namespace {

// Every name of the list in index order, refused devices included.
std::vector<std::string> listedNames(const core::IniFile& ini) {
    const std::int64_t number = ini.readInteger(kListSection, "Number", 0);
    // Only keys that exist can hold a value, so walk those instead of every
    // index: a Number of two billion must not keep start-up busy, and no
    // smaller cap may hide a device that the list names.
    std::map<std::int64_t, std::string> byIndex;
    for (const std::string& key : ini.keyNames(kListSection)) {
        if (key.size() <= 7 || key.compare(0, 7, "devname") != 0) continue;
        const std::string digits = key.substr(7);
        if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
        // Only the canonical decimal spelling is the key of index i.
        if (digits.size() > 1 && digits[0] == '0') continue;
        if (digits.size() > 18) continue;
        const std::int64_t index = std::stoll(digits);
        if (index > number) continue;
        std::string name = ini.readString(kListSection, key);
        if (!name.empty()) byIndex.emplace(index, std::move(name));
    }
    std::vector<std::string> names;
    for (auto& [index, name] : byIndex) names.push_back(std::move(name));
    return names;
}

}  // namespace

std::vector<std::string> listDeviceNames(const core::IniFile& ini) {
    std::vector<std::string> names = listedNames(ini);
    std::erase_if(
        names, [&ini](const std::string& name) { return readDevice(ini, name).refusedSize != 0; });
    return names;
}

std::vector<SerialFlashDevice> refusedDevices(const core::IniFile& ini) {
    std::vector<SerialFlashDevice> refused;
    for (const std::string& name : listedNames(ini)) {
        SerialFlashDevice device = readDevice(ini, name);
        if (device.refusedSize != 0) refused.push_back(std::move(device));
    }
    return refused;
}

std::string refusalText(const SerialFlashDevice& device) {
    return "serial flash device \"" + device.name + "\" is left out: its Size " +
           std::to_string(device.refusedSize) + " is beyond the " + std::to_string(kAddressSpace) +
           " bytes the Writer can address";
}

std::vector<SerialFlashDevice> listDevices(const core::IniFile& ini) {
    std::vector<SerialFlashDevice> devices;
    for (const std::string& name : listDeviceNames(ini)) devices.push_back(readDevice(ini, name));
    return devices;
}

std::uint64_t largestChipBytes(const core::IniFile& ini, std::uint64_t tarnUserArea) {
    std::uint64_t largest = tarnUserArea;
    for (const SerialFlashDevice& d : listDevices(ini))
        if (d.size > 0) largest = std::max(largest, static_cast<std::uint64_t>(d.size));
    return largest;
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
