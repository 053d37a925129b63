#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/AppPaths.h"
#include "core/CommandResult.h"
#include "core/IniFile.h"
#include "core/WriterLink.h"
#include "serialflash/SerialFlashProtocol.h"

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

// The messages a non-zero status of a command is logged with.
std::string_view detectStatusMessage(std::uint8_t status);
std::string_view eraseStatusMessage(std::uint8_t status);
std::string_view writeStatusMessage(std::uint8_t status);

// The five commands over one command packet and one reply packet that live for
// a whole operation. Bytes a command does not set keep what an earlier command
// of the operation put there (the erase goes out with the detect bytes still in
// bytes 2-4), which the Writer ignores.
//
// A failed exchange is a transfer failure with "USB failed!"; detect, erase
// and writeBlock fail on a non-zero status with the status's message.
class SerialFlashCommands {
public:
    explicit SerialFlashCommands(core::WriterLink& link) : link_(link) {}

    core::CommandResult detect(std::uint8_t mid, std::uint8_t did);
    core::CommandResult erase();
    // Where the data of the next write block go (command bytes 16-63).
    std::uint8_t* blockData() { return command_.data() + kDataAt; }
    core::CommandResult writeBlock(std::uint32_t address, std::uint8_t count);
    // Only the exchange counts, not the status. On success the 48 bytes from
    // the address are at readData() until the next command.
    core::CommandResult readBlock(std::uint32_t address, std::uint8_t count);
    const std::uint8_t* readData() const { return reply_.data() + kDataAt; }
    // Only the exchange counts, not the status.
    core::CommandResult disable();

    const core::Packet& command() const { return command_; }

private:
    bool send(Code code);
    // The exchange of `code`, judged by the reply's status where `statuses`
    // gives the messages.
    core::CommandResult judged(Code code, std::string_view (*statuses)(std::uint8_t));
    void setAddress(std::uint32_t address, std::uint8_t count);

    core::WriterLink& link_;
    core::Packet command_{};
    core::Packet reply_{};
};

}  // namespace sonoprog::serialflash
