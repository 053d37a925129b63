#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/AppPaths.h"
#include "core/IniFile.h"

// The serial flash devices this installation knows: the device table of
// Setup.ini ("Series Flash List" and one section per device).
namespace sonoprog::serialflash {

// One entry of the device table: the device's own section of Setup.ini.
struct SerialFlashDevice {
    std::string name;
    std::int64_t size = 0;  // "Size", 0 when missing or not a number
    std::int64_t mid = 0;   // "MID" as written; only its low byte is sent
    std::int64_t did = 0;   // "DID" as written; only its low byte is sent
    // The "Size" of a section beyond what the Writer's 24-bit addresses reach
    // (0 for every other device). Such a device is refused as it is read: its
    // size and ids read as 0, as a missing section does, so that no operation
    // can take it, and the list leaves it out.
    std::int64_t refusedSize = 0;

    std::uint8_t midByte() const { return static_cast<std::uint8_t>(mid & 0xFF); }
    std::uint8_t didByte() const { return static_cast<std::uint8_t>(did & 0xFF); }
    // Ids whose low byte is 0 (also a missing section) cannot be detected.
    bool idsConfigured() const { return midByte() != 0 && didByte() != 0; }
};

// The device's section read from the settings; "0x", "0X" and "$" hexadecimal
// are accepted. An empty name is never looked up (it would match the keys
// before the first section) and reads as a missing section.
SerialFlashDevice readDevice(const core::IniFile& ini, std::string_view name);
// The same from Setup.ini, opened anew for this one lookup.
SerialFlashDevice lookupDevice(const core::AppPaths& paths, std::string_view name);

// The device names of "Series Flash List", DevName0 up to and including
// "Number", in index order, empty names and refused devices skipped (what
// CB_NOR_Device lists).
std::vector<std::string> listDeviceNames(const core::IniFile& ini);
// The devices of the list that were left out for their size, in list order.
std::vector<SerialFlashDevice> refusedDevices(const core::IniFile& ini);
// The line that says why a refused device is not offered.
std::string refusalText(const SerialFlashDevice& device);
// Those devices with their sections, in list order (for a device listing).
std::vector<SerialFlashDevice> listDevices(const core::IniFile& ini);
// The largest chip this installation programs: the Tarn20's user area, or
// the largest device of the list when one is larger (what an imported sound
// may fill at most).
std::uint64_t largestChipBytes(const core::IniFile& ini, std::uint64_t tarnUserArea);

}  // namespace sonoprog::serialflash
