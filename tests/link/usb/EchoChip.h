#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "sim/ChipModel.h"
#include "sim/VirtualWriter.h"

namespace sonoprog::test {

// The smallest chip that uses every pipe: code 0x7A echoes byte 2 in its
// reply and announces a 4-byte bulk out and a 4-byte bulk in that gives the
// data back. For tests of the transport, below any chip's command set.
class EchoChip final : public sim::ChipModel {
public:
    static constexpr std::uint8_t kCode = 0x7A;
    bool handles(std::uint8_t code) const override { return code == kCode; }
    std::vector<sim::BulkPhase> command(const core::Packet& cmd, core::Packet& reply) override {
        reply[2] = cmd[2];
        return {{sim::BulkDirection::Out, 4}, {sim::BulkDirection::In, 4}};
    }
    void bulkOut(std::size_t, const std::uint8_t* data, std::size_t n) override {
        stored.assign(data, data + n);
    }
    void bulkIn(std::size_t, std::uint8_t* data, std::size_t n) override {
        std::copy(stored.begin(), stored.begin() + static_cast<long>(n), data);
    }
    std::vector<std::uint8_t> stored;
};

// A virtual Writer with only the echo chip in its socket, logging.
inline std::unique_ptr<sim::VirtualWriter> echoWriter() {
    auto writer = std::make_unique<sim::VirtualWriter>();
    writer->addChip(std::make_shared<EchoChip>());
    writer->setLogging(true);
    return writer;
}

}  // namespace sonoprog::test
