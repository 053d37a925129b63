#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/IniFile.h"

namespace sonoprog::app {

// The device names that switch writer tabs on; compared exactly, with case.
inline constexpr std::string_view kDeviceTarn20 = "Tarn20";
inline constexpr std::string_view kDeviceKiva300 = "Kiva300";
inline constexpr std::string_view kDeviceSeriesFlash = "Series Flash";

inline constexpr std::string_view kBrokenSetupCaption = "EEEOR";
inline constexpr std::string_view kBrokenSetupText =
    "System file missed or broken! Please install again!";
inline constexpr std::string_view kUnknownVersionText = "Unknow";

// Which of the four writer/editor pages are shown besides "Information".
struct TabVisibility {
    bool kiva = false;
    bool tarn = false;
    bool seriesFlash = false;
    bool soundEditor = false;
    friend bool operator==(const TabVisibility&, const TabVisibility&) = default;
};

// The tabs that belong to the device picked in CB_DeviceSel.
TabVisibility tabsForDevice(std::string_view selected);

enum class StartupMode { Broken, Engineering, Normal };

// What FormCreate makes of Setup.ini; the window applies it to its controls.
struct StartupConfig {
    StartupMode mode = StartupMode::Broken;
    // LB_Info_Ver: the "Version" text, or "Unknow" when the file is missing or broken.
    std::string versionText;
    // The "EEEOR" box is due (broken mode only).
    bool reportBroken = false;
    // CB_DeviceSel entries (D1, D2, D3, each when not empty), in order.
    std::vector<std::string> devices;
    // CB_NOR_Device entries; read only in normal mode and only when D3 is not empty.
    std::vector<std::string> serialFlashDevices;
    bool deviceSelectorEnabled = false;
    // PN_Tarn_Eng: shown in engineering mode, hidden in normal mode, untouched when broken.
    bool engineeringPanel = false;
    // Tabs shown at the end of start-up. In normal mode they follow the first device.
    TabVisibility tabs;
    // The first tab (Information) becomes the active page: normal mode only,
    // where CB_DeviceSelChange runs; otherwise the window stays on the Tarn20 page.
    bool selectInformationPage = false;
    // LB_Info_DevSupport: the devices joined with " / ".
    std::string supportedDevices;
};

StartupConfig readStartupConfig(const core::IniFile& setup);

std::string joinDeviceNames(const std::vector<std::string>& devices);

}  // namespace sonoprog::app
