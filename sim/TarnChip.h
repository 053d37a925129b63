#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "sim/ChipMemory.h"
#include "sim/ChipModel.h"
#include "tarn/TarnProtocol.h"

namespace sonoprog::sim {

// The Tarn20 page-flash chip as the Writer drives it (codes 0x10..0x17):
// 131,072 pages of 1,024 bytes, erased to 0xFF, programmed flash-style (a page
// becomes old AND data, so programming other data over a written page reads
// back wrong). Bad pages never take data and read back with a number of wrong
// bytes. 0x16 programs a mirror-map entry, low byte first; 0x17 answers the
// sum of the page as the chip would read it.
class TarnChip final : public ChipModel {
public:
    static constexpr std::size_t kPageSize = tarn::kPageSize;
    static constexpr std::uint32_t kPages = tarn::kChipPages;
    static constexpr std::uint32_t kFirstMapPage = tarn::kFirstMapPage;
    // A bad page reads back with this many wrong bytes unless told otherwise.
    static constexpr std::uint16_t kAllBytesWrong = 1024;

    TarnChip();

    // --- configuration (tests, the CLI's writer settings) ---
    // Statuses to force per command code ("the 3rd 0x13 answers 0x20").
    StatusInjector& statuses() { return statuses_; }
    // Every detect answers this status (0 = the chip is present and answers).
    void setDetectStatus(std::uint8_t status) { detectStatus_ = status; }
    // A bad page never takes data; it reads back with `wrongBytes` (1..1,024)
    // wrong bytes, taken from its first byte on, against what was last
    // programmed into it (or the erased page).
    void setBadPage(std::uint32_t page, std::uint16_t wrongBytes = kAllBytesWrong);
    void setBadPages(std::uint32_t first, std::uint32_t count,
                     std::uint16_t wrongBytes = kAllBytesWrong);
    void clearBadPages();
    bool isBadPage(std::uint32_t page) const { return page < kPages && wrong_[page] != 0; }

    // --- raw access, as if the chip were taken out of the socket ---
    void readPage(std::uint32_t page, std::uint8_t* out) const;
    std::vector<std::uint8_t> page(std::uint32_t page) const;
    std::uint8_t byteAt(std::uint32_t page, std::size_t offset) const;
    // The whole array, page 0 first (the persistent Writer maps it from a file).
    ChipMemory& memory() { return memory_; }
    // Stores the page as it is (no flash semantics), e.g. a chip programmed earlier.
    void writePage(std::uint32_t page, const std::uint8_t* data);
    void erase();
    bool detected() const { return detected_; }
    // Pages committed by 0x13 since construction (bad pages included).
    std::uint64_t pagesProgrammed() const { return programmed_; }

    // --- ChipModel ---
    bool handles(std::uint8_t code) const override {
        return code >= tarn::byte(tarn::Code::Detect) && code <= tarn::byte(tarn::Code::PageSum);
    }
    std::vector<BulkPhase> command(const Packet& command, Packet& reply) override;
    void bulkOut(std::size_t phase, const std::uint8_t* data, std::size_t length) override;
    void bulkIn(std::size_t phase, std::uint8_t* data, std::size_t length) override;

private:
    // The page as a read (or the Writer's page sum) would see it.
    void sensePage(std::uint32_t page, std::uint8_t* out) const;
    bool checkPage(std::uint8_t code, std::uint32_t page);
    void error(std::uint8_t code, const char* what);

    ChipMemory memory_;
    StatusInjector statuses_;
    std::uint8_t detectStatus_ = 0;
    std::vector<std::uint16_t> wrong_;  // per page: 0 = good, else wrong bytes on read
    // What the last program of a bad page tried to store (bad pages only).
    std::unordered_map<std::uint32_t, std::unique_ptr<std::array<std::uint8_t, kPageSize>>>
        attempted_;
    bool detected_ = false;

    // The program pass between 0x12 and 0x13.
    bool programPending_ = false;
    bool programDataIn_ = false;
    std::uint32_t programPage_ = 0;
    std::array<std::uint8_t, kPageSize> programData_{};
    // The read pass between 0x14 and 0x15.
    bool readPending_ = false;
    std::uint32_t readPage_ = 0;
    std::uint64_t programmed_ = 0;
};

}  // namespace sonoprog::sim
