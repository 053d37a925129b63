// Setup.ini as start-up and the serial flash tab read it: whatever the file
// holds, reading it neither crashes nor reads out of bounds.

#include <cstdint>
#include <string_view>

#include "core/IniFile.h"
#include "core/NumberText.h"
#ifdef SONOPROG_FUZZ_DEVICE_TABLE
#include "serialflash/SerialFlashDevices.h"
#endif
#if __has_include("StartupConfig.h")
#include "app/StartupConfig.h"
#define SONOPROG_FUZZ_STARTUP 1
#endif

using namespace sonoprog;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    core::IniFile ini = core::IniFile::fromText(text);
    volatile std::size_t sink = 0;
    for (const char* key : {"Version", "EngMode"})
        sink = sink + ini.readString("System", key).size();
    sink = sink + static_cast<std::size_t>(ini.readInteger("System", "EngMode", 0));
    for (const char* key : {"D1", "D2", "D3", "D4"})
        sink = sink + ini.readString("Device", key).size();
    sink = sink + static_cast<std::size_t>(ini.readInteger("Series Flash List", "Number", 0));
    sink = sink + ini.hasSection("Series Flash List");
    // A value looked up under every section name the text itself contains.
    std::string_view rest = text;
    while (!rest.empty()) {
        auto open = rest.find('[');
        if (open == std::string_view::npos) break;
        auto close = rest.find(']', open);
        if (close == std::string_view::npos) break;
        std::string_view section = rest.substr(open + 1, close - open - 1);
        sink = sink + static_cast<std::size_t>(ini.readInteger(section, "Size", 0, true));
        sink = sink + static_cast<std::size_t>(ini.readInteger(section, "MID", 0, true));
        sink = sink + ini.readString(section, "DID").size();
        rest = rest.substr(close + 1);
    }
    sink = sink + static_cast<std::size_t>(core::fieldInt(text)) + core::fieldUInt(text);
#ifdef SONOPROG_FUZZ_DEVICE_TABLE
    for (const auto& device : serialflash::listDevices(ini))
        sink = sink + device.name.size() + device.idsConfigured();
#endif
#ifdef SONOPROG_FUZZ_STARTUP
    // What the window's creation event makes of the file.
    const app::StartupConfig config = app::readStartupConfig(ini);
    sink = sink + config.devices.size() + config.serialFlashDevices.size() +
           config.supportedDevices.size() + config.versionText.size();
#endif
    (void)sink;
    return 0;
}
