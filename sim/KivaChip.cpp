#include "sim/KivaChip.h"

#include <string>

#include "kiva/KivaProtocol.h"

namespace sonoprog::sim {

namespace {
using kiva::byte;
using kiva::Code;
constexpr std::uint8_t kDetectRead = byte(Code::DetectRead);
constexpr std::uint8_t kReadBlock = byte(Code::ReadBlock);
constexpr std::uint8_t kEndRead = byte(Code::EndRead);
constexpr std::uint8_t kDetectProgram = byte(Code::DetectProgram);
constexpr std::uint8_t kProgramBlock = byte(Code::ProgramBlock);
constexpr std::uint8_t kEndProgram = byte(Code::EndProgram);
}  // namespace

KivaChip::KivaChip() = default;

void KivaChip::setDetectStatus(std::uint8_t detectCode, std::uint8_t status) {
    if (detectCode == kDetectRead) detectStatus_[0] = status;
    if (detectCode == kDetectProgram) detectStatus_[1] = status;
}

void KivaChip::setDetectStatus(std::uint8_t status) {
    detectStatus_[0] = detectStatus_[1] = status;
}

std::vector<std::uint8_t> KivaChip::contents() const {
    std::vector<std::uint8_t> out(kSize);
    memory_.read(0, out.data(), kSize);
    return out;
}

std::vector<BulkPhase> KivaChip::command(const Packet& command, Packet& reply) {
    const std::uint8_t code = command[0];
    const std::uint8_t injected = statuses_.next(code);
    switch (code) {
        case kDetectRead:
        case kDetectProgram: {
            const std::uint8_t status =
                injected ? injected : detectStatus_[code == kDetectRead ? 0 : 1];
            reply[1] = status;
            // A chip that failed its checks is not prepared for blocks.
            pass_ = status == 0 ? (code == kDetectRead ? Pass::Reading : Pass::Programming)
                                : Pass::None;
            position_ = 0;
            break;
        }
        case kReadBlock:
            readBlock(command, reply);
            if (injected) reply[1] = injected;
            break;
        case kProgramBlock:
            if (injected) {
                // The block is lost, as a failing cell would lose it; the
                // position still moves on.
                if (blockAllowed(command, Pass::Programming, reply)) position_ += command[2];
                reply[1] = injected;
            } else {
                programBlock(command, reply);
            }
            break;
        case kEndRead:
        case kEndProgram:
            pass_ = Pass::None;
            reply[1] = injected;
            break;
        default:
            break;
    }
    return {};
}

bool KivaChip::blockAllowed(const Packet& command, Pass needed, Packet& reply) {
    const std::uint8_t n = command[2];
    std::string problem;
    if (pass_ != needed)
        problem = "outside its pass";
    else if (n == 0 || n > kMaxBlock)
        problem = "with a count of " + std::to_string(n);
    else if (position_ + n > kSize)
        problem = "past the chip's end at position " + std::to_string(position_);
    if (problem.empty()) return true;
    protocolErrors.push_back(
        std::string(command[0] == kReadBlock ? "Kiva300 read block " : "Kiva300 program block ") +
        problem);
    reply[1] = kProtocolErrorStatus;
    return false;
}

void KivaChip::readBlock(const Packet& command, Packet& reply) {
    if (!blockAllowed(command, Pass::Reading, reply)) return;
    const std::uint8_t n = command[2];
    memory_.read(position_, reply.data() + 16, n);
    position_ += n;
}

void KivaChip::programBlock(const Packet& command, Packet& reply) {
    if (!blockAllowed(command, Pass::Programming, reply)) return;
    const std::uint8_t n = command[2];
    memory_.program(position_, command.data() + 16, n);
    position_ += n;
}

}  // namespace sonoprog::sim
