#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "serialflash/SerialFlashProtocol.h"
#include "sim/ChipMemory.h"
#include "sim/ChipModel.h"

namespace sonoprog::sim {

// A serial NOR flash in the Writer's socket, answering the commands
// 0x30-0x33 and 0x3F: chip detect against its manufacturer and device id,
// a whole-chip erase, 48-byte block writes and reads at 24-bit addresses that
// wrap at the chip's size as real parts do. Erase, write and read are only
// accepted between a successful detect and the disable that ends the pass.
class SerialFlashChip final : public ChipModel {
public:
    static constexpr std::size_t kMaxSize = serialflash::kAddressSpace;

    // Detect statuses the chip itself answers on an id mismatch.
    static constexpr std::uint8_t kSpeedStatus = 0x01;
    static constexpr std::uint8_t kManufacturerIdStatus = 0x02;
    static constexpr std::uint8_t kDeviceIdStatus = 0x03;
    // What a command answers when it comes outside a detect ... disable pass
    // or with a count outside 1..48 (logged as a protocol error as well).
    static constexpr std::uint8_t kRefusedStatus = 0xFE;

    // A blank 16 MiB chip that answers to whatever ids the operation sends, so
    // that every device of the table can be tried on it.
    SerialFlashChip();
    // A blank chip of that size and those ids.
    SerialFlashChip(std::size_t size, std::uint8_t mid, std::uint8_t did);

    // --- configuration (a writer.ini may drive these) ---
    // A new, erased chip of that size (1 .. 16 MiB; clamped into that range).
    void setSize(std::size_t size);
    // Ids to detect against; turns off answering any ids.
    void setIds(std::uint8_t mid, std::uint8_t did);
    // When on, detect accepts whatever ids the operation sends.
    void setAnswerAnyIds(bool on) { anyIds_ = on; }
    // How long an erase keeps the reply back (the Writer answers when done).
    void setEraseTime(std::chrono::milliseconds time) { eraseTime_ = time; }

    std::size_t size() const { return memory_->size(); }
    std::uint8_t manufacturerId() const { return mid_; }
    std::uint8_t deviceId() const { return did_; }

    // --- tests ---
    // Per-command statuses ("the 3rd write block answers 0x11") and counts.
    StatusInjector& statuses() { return statuses_; }
    // The raw array: read it, or preset its contents.
    ChipMemory& memory() { return *memory_; }
    bool inPass() const { return detected_; }

    // --- ChipModel ---
    bool handles(std::uint8_t code) const override;
    std::vector<BulkPhase> command(const Packet& command, Packet& reply) override;

private:
    std::uint8_t detect(const Packet& command);
    // Calls copy(chip offset, offset in the block, length) for each piece of
    // the range, wrapped at the chip's end.
    template <typename Copy>
    void wrapped(std::uint32_t address, std::size_t length, Copy copy);

    std::unique_ptr<ChipMemory> memory_;
    StatusInjector statuses_;
    std::uint8_t mid_;
    std::uint8_t did_;
    bool anyIds_ = false;
    bool detected_ = false;
    std::chrono::milliseconds eraseTime_{0};
};

}  // namespace sonoprog::sim
