#include "app/StartupConfig.h"

#include <map>

namespace sonoprog::core {

TabVisibility tabsForDevice(std::string_view selected) {
    TabVisibility tabs;
    if (selected == kDeviceKiva300) {
        tabs.kiva = true;
    } else if (selected == kDeviceTarn20) {
        tabs.tarn = true;
        tabs.soundEditor = true;
    } else if (selected == kDeviceSeriesFlash) {
        tabs.seriesFlash = true;
        tabs.soundEditor = true;
    }
    return tabs;
}

std::string joinDeviceNames(const std::vector<std::string>& devices) {
    std::string text;
    for (const auto& name : devices) {
        if (!text.empty()) text += " / ";
        text += name;
    }
    return text;
}

std::vector<std::string> readSerialFlashNames(const IniFile& setup) {
    constexpr std::string_view kSection = "Series Flash List";
    const std::int64_t number = setup.readInteger(kSection, "Number", 0);
    // "DevName0" .. "DevName<Number>" in index order. Only keys that exist can
    // hold a value, so walk those instead of every index: a Number of two
    // billion must not keep start-up busy.
    std::map<std::int64_t, std::string> byIndex;
    for (const std::string& key : setup.keyNames(kSection)) {
        if (key.size() <= 7 || key.compare(0, 7, "devname") != 0) continue;
        const std::string digits = key.substr(7);
        if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
        // Only the canonical decimal spelling is the key of index i.
        if (digits.size() > 1 && digits[0] == '0') continue;
        if (digits.size() > 18) continue;
        const std::int64_t index = std::stoll(digits);
        if (index > number) continue;
        std::string name = setup.readString(kSection, key);
        if (!name.empty()) byIndex.emplace(index, std::move(name));
    }
    std::vector<std::string> names;
    for (auto& [index, name] : byIndex) names.push_back(std::move(name));
    return names;
}

StartupConfig readStartupConfig(const IniFile& setup) {
    StartupConfig config;
    config.versionText = setup.readString("System", "Version");
    if (config.versionText.empty()) {
        config.mode = StartupMode::Broken;
        config.reportBroken = true;
        config.versionText = std::string(kUnknownVersionText);
    } else if (setup.readInteger("System", "EngMode", 0) != 0) {
        config.mode = StartupMode::Engineering;
        config.engineeringPanel = true;
        config.tabs = {true, true, true, true};
    } else {
        config.mode = StartupMode::Normal;
        for (const char* key : {"D1", "D2", "D3"}) {
            std::string name = setup.readString("Device", key);
            if (!name.empty()) config.devices.push_back(std::move(name));
        }
        // The serial flash list belongs to D3 and is read only when D3 is set.
        if (!setup.readString("Device", "D3").empty())
            config.serialFlashDevices = readSerialFlashNames(setup);
        config.deviceSelectorEnabled = true;
        config.selectInformationPage = true;
        if (!config.devices.empty()) config.tabs = tabsForDevice(config.devices.front());
    }
    config.supportedDevices = joinDeviceNames(config.devices);
    return config;
}

}  // namespace sonoprog::core
