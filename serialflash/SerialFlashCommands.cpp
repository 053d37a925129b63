#include "serialflash/SerialFlashCommands.h"

#include <algorithm>
#include <array>
#include <utility>

namespace sonoprog::serialflash {

namespace {

using StatusText = std::pair<std::uint8_t, std::string_view>;

constexpr std::string_view kOtherStatus = "Failed!";

constexpr std::array<StatusText, 3> kDetectStatuses{{
    {0x01, "Speed failed!"},
    {0x02, "Manufacturer's ID failed!"},
    {0x03, "Device ID failed!"},
}};

constexpr std::array<StatusText, 4> kEraseStatuses{{
    {0x10, "Can not remove momory protect!"},
    {0x20, "Can not write memory!"},
    {0x21, "Can not start to erase memory!"},
    {0x22, "Can not end of erase memory!"},
}};

constexpr std::array<StatusText, 3> kWriteStatuses{{
    {0x10, "Can not write memory!"},
    {0x11, "Can not start to write memory!"},
    {0x12, "Can not end of write memory!"},
}};

template <std::size_t N>
std::string_view lookupStatus(const std::array<StatusText, N>& table, std::uint8_t status) {
    for (const auto& [code, text] : table)
        if (code == status) return text;
    return kOtherStatus;
}

// A "Number" beyond any real list would only make start-up spin through
// millions of empty keys.
constexpr std::int64_t kMaxListIndex = 65535;

}  // namespace

std::string_view detectStatusMessage(std::uint8_t status) {
    return lookupStatus(kDetectStatuses, status);
}
std::string_view eraseStatusMessage(std::uint8_t status) {
    return lookupStatus(kEraseStatuses, status);
}
std::string_view writeStatusMessage(std::uint8_t status) {
    return lookupStatus(kWriteStatuses, status);
}

NorDevice readDevice(const core::IniFile& ini, std::string_view name) {
    NorDevice device;
    device.name = std::string(name);
    if (name.empty()) return device;
    device.size = ini.readInteger(name, "Size", 0, true);
    device.mid = ini.readInteger(name, "MID", 0, true);
    device.did = ini.readInteger(name, "DID", 0, true);
    return device;
}

NorDevice lookupDevice(const core::AppPaths& paths, std::string_view name) {
    return readDevice(core::IniFile::load(paths.setupIni()), name);
}

std::vector<std::string> listDeviceNames(const core::IniFile& ini) {
    std::vector<std::string> names;
    const std::int64_t number = std::min(ini.readInteger(kListSection, "Number", 0), kMaxListIndex);
    for (std::int64_t i = 0; i <= number; ++i) {
        std::string name = ini.readString(kListSection, "DevName" + std::to_string(i));
        if (!name.empty()) names.push_back(std::move(name));
    }
    return names;
}

std::vector<NorDevice> listDevices(const core::IniFile& ini) {
    std::vector<NorDevice> devices;
    for (const std::string& name : listDeviceNames(ini)) devices.push_back(readDevice(ini, name));
    return devices;
}

bool NorCommands::send(std::uint8_t code) {
    command_[0] = code;
    return link_.Exchange(command_, reply_);
}

void NorCommands::setAddress(std::uint32_t address, std::uint8_t count) {
    core::put24(command_, kAddressAt, address);
    command_[kCountAt] = count;
}

std::string_view NorCommands::detect(std::uint8_t mid, std::uint8_t did) {
    command_[2] = kDetectParameter;
    command_[3] = mid;
    command_[4] = did;
    if (!send(kCmdDetect)) return kUsbFailed;
    return reply_[1] == 0 ? std::string_view{} : detectStatusMessage(reply_[1]);
}

std::string_view NorCommands::erase() {
    if (!send(kCmdErase)) return kUsbFailed;
    return reply_[1] == 0 ? std::string_view{} : eraseStatusMessage(reply_[1]);
}

std::string_view NorCommands::writeBlock(std::uint32_t address, std::uint8_t count) {
    setAddress(address, count);
    if (!send(kCmdWriteBlock)) return kUsbFailed;
    return reply_[1] == 0 ? std::string_view{} : writeStatusMessage(reply_[1]);
}

const std::uint8_t* NorCommands::readBlock(std::uint32_t address, std::uint8_t count) {
    setAddress(address, count);
    if (!send(kCmdReadBlock)) return nullptr;
    return reply_.data() + kDataAt;
}

bool NorCommands::disable() {
    return send(kCmdDisable);
}

}  // namespace sonoprog::serialflash
