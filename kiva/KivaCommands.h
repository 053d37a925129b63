#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/CommandResult.h"
#include "core/WriterLink.h"
#include "kiva/KivaProtocol.h"

namespace sonoprog::kiva {

// The fail line for a non-zero detect status; the detect for programming
// reports a failed supply check with its own leading blank.
std::string_view detectStatusMessage(std::uint8_t detectCode, std::uint8_t status);

// Count of the block at `position`: 48, and 16 for the last one of the chip.
std::uint8_t blockCount(std::uint32_t position);

// The six Kiva300 commands. The Writer keeps the position itself: no command
// carries an address, only the block count in byte 2 and the data from byte 16.
// A failed exchange is a transfer failure with "USB failed!".
class KivaCommands {
public:
    explicit KivaCommands(core::WriterLink& link) : link_(link) {}

    // Detect for reading (0x20) or programming (0x23): a non-zero reply
    // status fails with detectStatusMessage and the status itself.
    core::CommandResult detect(std::uint8_t detectCode);
    // Read next block (0x21): the next n chip bytes into `out`, written only
    // when the exchange succeeded; the status is not examined.
    core::CommandResult readBlock(std::uint8_t n, std::uint8_t* out);
    // Program next block (0x24) with n bytes; the reply is not examined.
    core::CommandResult programBlock(const std::uint8_t* data, std::uint8_t n);
    // End reading (0x22) or end programming (0x25).
    core::CommandResult disable(std::uint8_t endCode);

private:
    core::WriterLink& link_;
};

}  // namespace sonoprog::kiva
