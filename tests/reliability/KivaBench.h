#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/NumberText.h"
#include "ivr/Ivr2bin.h"
#include "ivr/IvrEncoder.h"
#include "kiva/KivaOperations.h"
#include "sim/KivaChip.h"
#include "tests/reliability/Sweep.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {

// A Kiva300 DAT file on the bench (part of it enciphered) and the image the
// converter makes of it, which is what the chip must end up holding.
struct KivaBench {
    // No key file beside the program: the converter's built-in keys.
    ivr::IvrKeys keys;
    explicit KivaBench(const TempDir& dir) : image(sweepImage(kiva::kKivaSize, 0x6B)) {
        const std::uint16_t word = ivr::ivrCheckWord(image.data(), image.size());
        image[14] = static_cast<std::uint8_t>(word);
        image[15] = static_cast<std::uint8_t>(word >> 8);
        const auto path = dir / "voice.dat";
        ivr::ImageToIvrFile(path, image.data(), image.size(), ivr::IvrLayout{32, 16, 2064}, keys);
        fields.loadFile = path.string();
        fields.checkSum = core::hex4(word);
    }
    KivaBench(const KivaBench&) = delete;
    KivaBench& operator=(const KivaBench&) = delete;

    bool onChip(sim::KivaChip& chip) const {
        std::vector<std::uint8_t> on(kiva::kKivaSize);
        chip.memory().read(0, on.data(), on.size());
        return on == image;
    }
    static bool blank(sim::KivaChip& chip) {
        for (std::size_t i = 0; i < kiva::kKivaSize; ++i)
            if (chip.memory().read(i) != 0xFF) return false;
        return true;
    }

    std::vector<std::uint8_t> image;
    kiva::KivaFields fields;
};

}  // namespace sonoprog::test
