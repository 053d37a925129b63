#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/CommandResult.h"
#include "core/WriterLink.h"
#include "tarn/TarnProtocol.h"

namespace sonoprog::tarn {

// Where the mirror map records that spare page `spare` holds user page `bad`.
struct MirrorEntry {
    std::uint32_t mapPage;  // 0x1FE00 + bad / 256
    std::uint16_t offset;   // row (bad / 4 mod 64) * 16 + (bad mod 4) * 2
    std::uint16_t value;    // low 16 bits of the spare page
};
MirrorEntry mirrorEntry(std::uint32_t badPage, std::uint32_t sparePage);

// The spare page a map entry's two bytes (low byte first) name; nullopt for
// an empty entry (0xFFFF) or one outside the spare area.
std::optional<std::uint32_t> mirrorSpare(std::uint8_t low, std::uint8_t high);

// The 32-bit sum of a page's 1,024 bytes (at most 261,120).
std::uint32_t pageSum(const std::uint8_t* page);

// The message a failing status of a command leaves in the holder; a status the
// command does not list gives its last row. Empty for codes without a table.
std::string_view statusMessage(Code code, std::uint8_t status);

// The Tarn20 command set over the Writer link. Every operation returns its
// outcome with the failure message to log; on success only detect and disable
// carry a message. The buffers the page operations need are members, so a page
// costs no allocation.
class TarnCommands {
public:
    explicit TarnCommands(core::WriterLink& link);

    core::CommandResult TarnDetect();
    core::CommandResult TarnDisable();
    core::CommandResult TarnProgramPage(std::uint32_t page, const std::uint8_t* buffer);
    // `errors` is written only when the page was read back.
    core::CommandResult TarnComparePage(std::uint32_t page, const std::uint8_t* expected,
                                        std::uint32_t& errors);
    core::CommandResult TarnReadPage(std::uint32_t page, std::uint8_t* buffer);
    // The page the last compare or read brought back.
    const std::uint8_t* readBack() const { return readBack_.data(); }
    core::CommandResult TarnSetMirror(std::uint32_t badPage, std::uint32_t sparePage);
    core::CommandResult TarnWriteInfoPage(std::uint32_t page, const std::uint8_t* buffer);
    core::CommandResult TarnWriteDataPage(std::uint32_t page, const std::uint8_t* buffer);

private:
    bool exchange() { return link_.Exchange(command_, reply_); }
    // The reply's status as a chip failure of `code`.
    core::CommandResult refused(Code code) const;
    // 0x14, both bulk reads into readBack_, 0x15.
    core::CommandResult readInto(std::uint32_t page);

    core::WriterLink& link_;
    core::Packet command_{};
    core::Packet reply_{};
    std::array<std::uint8_t, kPageSize> readBack_{};
};

}  // namespace sonoprog::tarn
