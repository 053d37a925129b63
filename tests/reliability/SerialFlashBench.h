#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/ImageSum.h"
#include "core/NumberText.h"
#include "serialflash/SerialFlashOperations.h"
#include "sim/SerialFlashChip.h"
#include "tests/reliability/Sweep.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {

// A small serial flash device on the bench: its Setup.ini entry, a short
// image file and the tab's fields after Load File, in a program folder.
struct SerialFlashBench {
    static constexpr std::size_t kChipSize = 480;   // ten read blocks for a blank check
    static constexpr std::size_t kImageSize = 100;  // two whole blocks and a short one
    static constexpr std::uint8_t kMid = 0xEF;
    static constexpr std::uint8_t kDid = 0x13;

    explicit SerialFlashBench(const TempDir& dir) : image(sweepImage(kImageSize, 0x5A)) {
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
