#pragma once

#include <cstdint>
#include <vector>

#include "kiva/KivaProtocol.h"
#include "sim/ChipMemory.h"
#include "sim/ChipModel.h"

namespace sonoprog::sim {

// The Kiva300 in the virtual Writer's socket: 4,096 bytes of flash, erased
// 0xFF, programmed by AND. The Writer keeps the position: a detect (0x20 for
// reading, 0x23 for programming) opens a pass at position 0, every block
// moves it on by its count, the end command (0x22 / 0x25) closes the pass.
// A block outside its pass, with a count of 0 or over 48, or reaching past
// the chip's end is a protocol error; it answers status 1 and changes nothing.
class KivaChip final : public ChipModel {
public:
    static constexpr std::size_t kSize = kiva::kKivaSize;
    static constexpr std::size_t kMaxBlock = kiva::kKivaBlock;
    static constexpr std::uint8_t kProtocolErrorStatus = 0x01;

    enum class Pass { None, Reading, Programming };

    KivaChip();

    bool handles(std::uint8_t code) const override {
        return code >= kiva::byte(kiva::Code::DetectRead) &&
               code <= kiva::byte(kiva::Code::EndProgram);
    }
    std::vector<BulkPhase> command(const Packet& command, Packet& reply) override;

    // Every detect of that code (0x20 or 0x23) answers `status` (0 = the
    // chip is there); setDetectStatus(status) sets both.
    void setDetectStatus(std::uint8_t detectCode, std::uint8_t status);
    void setDetectStatus(std::uint8_t status);
    // Finer faults: "the Nth command of code C answers S". A program block
    // answered with a non-zero status programs nothing.
    StatusInjector& statuses() { return statuses_; }

    // Raw access for tests and for loading a saved chip.
    ChipMemory& memory() { return memory_; }
    std::vector<std::uint8_t> contents() const;

    Pass pass() const { return pass_; }
    std::uint32_t position() const { return position_; }

private:
    void readBlock(const Packet& command, Packet& reply);
    void programBlock(const Packet& command, Packet& reply);
    bool blockAllowed(const Packet& command, Pass needed, Packet& reply);

    ChipMemory memory_{kSize};
    StatusInjector statuses_;
    std::uint8_t detectStatus_[2] = {0, 0};  // reading, programming
    Pass pass_ = Pass::None;
    std::uint32_t position_ = 0;
};

}  // namespace sonoprog::sim
