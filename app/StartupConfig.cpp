#include "app/StartupConfig.h"

#include "serialflash/SerialFlashDevices.h"

namespace sonoprog::app {

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

StartupConfig readStartupConfig(const core::IniFile& setup) {
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
            config.serialFlashDevices = serialflash::listDeviceNames(setup);
        config.deviceSelectorEnabled = true;
        config.selectInformationPage = true;
        if (!config.devices.empty()) config.tabs = tabsForDevice(config.devices.front());
    }
    config.supportedDevices = joinDeviceNames(config.devices);
    return config;
}

}  // namespace sonoprog::app
