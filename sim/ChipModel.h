#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/WriterLink.h"

namespace sonoprog::sim {

using core::Packet;

enum class BulkDirection { Out, In };

struct BulkPhase {
    BulkDirection direction;
    std::size_t length;
};

// One chip in the virtual Writer's socket, answering its range of command codes.
class ChipModel {
public:
    virtual ~ChipModel() = default;
    virtual bool handles(std::uint8_t code) const = 0;
    // Carries out one command: fills the reply (status in byte 1; the frame has
    // zeroed it) and returns the bulk phases that the command announces, in order.
    virtual std::vector<BulkPhase> command(const Packet& command, Packet& reply) = 0;
    // The data of announced phase `phase` (0-based within the command).
    virtual void bulkOut(std::size_t phase, const std::uint8_t* data, std::size_t length) {
        (void)phase, (void)data, (void)length;
    }
    virtual void bulkIn(std::size_t phase, std::uint8_t* data, std::size_t length) {
        (void)phase, (void)data, (void)length;
    }
    // Protocol errors the chip itself saw (a block outside a pass, ...).
    std::vector<std::string> protocolErrors;
};

// Status injection shared by the chip models: "the Nth command of code C
// answers S", or "every command of code C answers S".
class StatusInjector {
public:
    void failNth(std::uint8_t code, std::uint64_t nth, std::uint8_t status);
    void failAll(std::uint8_t code, std::uint8_t status);
    void clear();
    // Counts the command and returns the status to force, 0 for none.
    std::uint8_t next(std::uint8_t code);
    std::uint64_t count(std::uint8_t code) const { return counts_[code]; }

private:
    struct Rule {
        std::uint8_t code;
        std::uint64_t nth;  // 0 = every
        std::uint8_t status;
    };
    std::vector<Rule> rules_;
    std::uint64_t counts_[256] = {};
};

}  // namespace sonoprog::sim
