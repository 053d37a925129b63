#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

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

// The 32-bit sum of a page's 1,024 bytes (at most 261,120).
std::uint32_t pageSum(const std::uint8_t* page);

// The message a failing status of a command leaves in the holder; a status the
// command does not list gives its last row. Empty for codes without a table.
const char* statusMessage(Code code, std::uint8_t status);

// The Tarn20 command set over the Writer link. Every operation leaves its
// failure message in the holder and returns false; on success only detect and
// disable write the holder. The buffers the page operations need are members,
// so a page costs no allocation.
class TarnCommands {
public:
    explicit TarnCommands(core::WriterLink& link);

    bool TarnDetect(std::string& holder);
    bool TarnDisable(std::string& holder);
    bool TarnProgramPage(std::string& holder, std::uint32_t page, const std::uint8_t* buffer);
    bool TarnComparePage(std::string& holder, std::uint32_t page, const std::uint8_t* expected,
                         std::uint32_t& errors);
    bool TarnReadPage(std::string& holder, std::uint32_t page, std::uint8_t* buffer);
    bool TarnSetMirror(std::string& holder, std::uint32_t badPage, std::uint32_t sparePage);
    bool TarnWriteInfoPage(std::string& holder, std::uint32_t page, const std::uint8_t* buffer);
    bool TarnWriteDataPage(std::string& holder, std::uint32_t page, const std::uint8_t* buffer);

    // True when the last failing operation failed because a transfer failed
    // (the Writer went away), not because the chip answered with a status or
    // read back wrong data. A dead link must not be taken for a bad page.
    bool transferFailed() const { return transferFailed_; }

private:
    bool exchange(std::string& holder, const char* usbMessage);
    bool fail(std::string& holder, const char* message, bool transfer);
    // 0x14, both bulk reads into readBack_, 0x15.
    bool readInto(std::string& holder, std::uint32_t page);

    core::WriterLink& link_;
    core::Packet command_{};
    core::Packet reply_{};
    std::array<std::uint8_t, kPageSize> readBack_{};
    bool transferFailed_ = false;
};

}  // namespace sonoprog::tarn
