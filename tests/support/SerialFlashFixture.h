#pragma once

// Serial flash in the tests: the device table and the rig of the unit tests
// around a virtual Writer, and a small device with a short image, its fields
// and the checks of what the chip holds, which the USB backend tests and the
// reliability sweeps put on their own Writers.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/NumberText.h"
#include "link/Link.h"
#include "serialflash/SerialFlashOperations.h"
#include "sim/SerialFlashChip.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"
#include "tests/support/ImageBytes.h"
#include "tests/support/RigServices.h"
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

// A small serial flash device for the chip operations: its Setup.ini entry, a
// short image file and the tab's fields after Load File, in a program folder.
struct SerialFlashImage {
    static constexpr std::size_t kChipSize = 480;   // ten read blocks for a blank check
    static constexpr std::size_t kImageSize = 100;  // two whole blocks and a short one
    static constexpr std::uint8_t kMid = 0xEF;
    static constexpr std::uint8_t kDid = 0x13;

    explicit SerialFlashImage(const TempDir& dir) : image(sweepImage(kImageSize, 0x5A)) {
        dir.write("Setup.ini",
                  "[Series Flash List]\nNumber=1\nDevName1=SWEEP480\n"
                  "[SWEEP480]\nSize=480\nMID=0xEF\nDID=0x13\n");
        fields.device = "SWEEP480";
        fields.memSize = std::to_string(kChipSize);
        fields.loadFile = dir.write("image.bin", image).string();
        fields.fileSize = std::to_string(kImageSize);
        std::uint32_t sum = 0;
        for (std::uint8_t b : image) sum += b;
        fields.chkSum = core::hex8(sum);
    }

    static std::shared_ptr<sim::SerialFlashChip> makeChip() {
        return std::make_shared<sim::SerialFlashChip>(kChipSize, kMid, kDid);
    }
    bool holdsImage(sim::SerialFlashChip& chip) const {
        std::vector<std::uint8_t> on(kImageSize);
        chip.memory().read(0, on.data(), on.size());
        return on == image;
    }
    static bool blank(sim::SerialFlashChip& chip) {
        for (std::size_t i = 0; i < kChipSize; ++i)
            if (chip.memory().read(i) != 0xFF) return false;
        return true;
    }

    std::vector<std::uint8_t> image;
    serialflash::SerialFlashFields fields;
};

}  // namespace sonoprog::test
