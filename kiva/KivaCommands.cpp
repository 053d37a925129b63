#include "kiva/KivaCommands.h"

#include <algorithm>
#include <cstring>

namespace sonoprog::kiva {

namespace {

core::Packet packet(std::uint8_t code, std::uint8_t n = 0) {
    core::Packet p{};
    p[0] = code;
    p[2] = n;
    return p;
}

core::CommandResult transferFailed() {
    return core::CommandResult::transferFailure(kUsbFailed);
}

}  // namespace

std::string_view detectStatusMessage(std::uint8_t detectCode, std::uint8_t status) {
    return detectCode == byte(Code::DetectProgram) ? kDetectProgramStatuses.text(status)
                                                   : kDetectReadStatuses.text(status);
}

std::uint8_t blockCount(std::uint32_t position) {
    if (position >= kKivaSize) return 0;
    return static_cast<std::uint8_t>(std::min<std::size_t>(kKivaBlock, kKivaSize - position));
}

core::CommandResult KivaCommands::detect(std::uint8_t detectCode) {
    core::Packet reply{};
    if (!link_.Exchange(packet(detectCode), reply)) return transferFailed();
    if (reply[1] != 0)
        return core::CommandResult::chipFailure(detectStatusMessage(detectCode, reply[1]),
                                                reply[1]);
    return core::CommandResult::success();
}

core::CommandResult KivaCommands::readBlock(std::uint8_t n, std::uint8_t* out) {
    n = std::min<std::uint8_t>(n, kKivaBlock);
    core::Packet reply{};
    if (!link_.Exchange(packet(byte(Code::ReadBlock), n), reply)) return transferFailed();
    std::memcpy(out, reply.data() + 16, n);
    return core::CommandResult::success();
}

core::CommandResult KivaCommands::programBlock(const std::uint8_t* data, std::uint8_t n) {
    n = std::min<std::uint8_t>(n, kKivaBlock);
    core::Packet cmd = packet(byte(Code::ProgramBlock), n);
    std::memcpy(cmd.data() + 16, data, n);
    core::Packet reply{};
    if (!link_.Exchange(cmd, reply)) return transferFailed();
    return core::CommandResult::success();
}

core::CommandResult KivaCommands::disable(std::uint8_t endCode) {
    core::Packet reply{};
    if (!link_.Exchange(packet(endCode), reply)) return transferFailed();
    return core::CommandResult::success();
}

}  // namespace sonoprog::kiva
