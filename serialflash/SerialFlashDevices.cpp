#include "serialflash/SerialFlashDevices.h"

#include <algorithm>
#include <map>
#include <utility>

#include "serialflash/SerialFlashProtocol.h"

namespace sonoprog::serialflash {

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

}  // namespace sonoprog::serialflash
