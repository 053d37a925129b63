#pragma once

#include <cstdint>
#include <string>

namespace sonoprog::editor {

// The Tarn20's user area: what a sound image may fill on that chip.
inline constexpr std::uint64_t kTarnUserAreaBytes = 127008768;

// How the image fits the chip the device selector names.
struct ChipFit {
    std::string chip;            // "Tarn20", or the serial flash device's name
    std::uint64_t capacity = 0;  // bytes; 0 when no chip is known
    std::uint64_t image = 0;     // the image's bytes

    bool known() const { return capacity > 0; }
    bool fits() const { return image <= capacity; }
    double percent() const;
};

// "Image 31744 bytes = 0.02% of the Tarn20 (127008768 bytes)", with
// " - it does not fit!" after it when it does not; empty for no chip.
std::string chipFitText(const ChipFit& fit);

}  // namespace sonoprog::editor
