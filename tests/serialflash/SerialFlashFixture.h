#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "link/Link.h"
#include "sim/SerialFlashChip.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {

// The device table the serial flash tests run against.
inline constexpr const char* kSerialFlashSetup = R"([Series Flash List]
Number=5
DevName1=W25Q80
DevName2=NoSize
DevName3=Wide
DevName4=Hundred
DevName5=Huge

[W25Q80]
Size=1048576
MID=0xEF
DID=$13

[NoSize]
MID=0xEF
DID=0x13

[Wide]
Size=0X100
MID=0x1EF
DID=0x13

[Hundred]
Size=100
MID=0xC2
DID=0x100

[Huge]
Size=33554432
MID=0xEF
DID=0x13
)";

// A virtual Writer with a 1 MiB serial flash (ids 0xEF, 0x13) in its socket,
// the link over it with recorded boxes, and a Setup.ini in a folder of its own.
struct SerialFlashWriter {
    TempDir dir;
    core::AppPaths paths = core::AppPaths::forFolder(dir.path());
    sim::VirtualWriter writer;
    std::shared_ptr<sim::SerialFlashChip> chip =
        std::make_shared<sim::SerialFlashChip>(1u << 20, 0xEF, 0x13);
    RecordingPrompter prompter;
    link::Link link{writer, prompter};

    SerialFlashWriter() {
        writer.addChip(chip);
        writer.open();
        writer.setLogging(true);
        dir.write("Setup.ini", std::string(kSerialFlashSetup));
    }

    // The command packets sent, in order.
    std::vector<core::Packet> commands() const {
        std::vector<core::Packet> out;
        for (const auto& r : writer.log()) {
            if (r.kind != sim::TransferRecord::Kind::Command) continue;
            core::Packet p{};
            std::copy(r.bytes.begin(), r.bytes.end(), p.begin());
            out.push_back(p);
        }
        return out;
    }
    std::vector<std::uint8_t> codes() const { return writer.commandCodes(); }

    std::vector<std::uint8_t> chipBytes(std::size_t offset, std::size_t length) const {
        std::vector<std::uint8_t> out(length);
        chip->memory().read(offset, out.data(), length);
        return out;
    }
};

}  // namespace sonoprog::test
