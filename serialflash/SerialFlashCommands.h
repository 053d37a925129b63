#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/CommandResult.h"
#include "core/WriterLink.h"
#include "serialflash/SerialFlashProtocol.h"

namespace sonoprog::serialflash {

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
