#pragma once

#include <memory>

#include "sim/VirtualWriter.h"

namespace sonoprog::sim {

class KivaChip;
class SerialFlashChip;
class TarnChip;

// The chips in the standard Writer's socket, for those that configure them.
struct StandardChips {
    std::shared_ptr<TarnChip> tarn;
    std::shared_ptr<SerialFlashChip> serialFlash;
    std::shared_ptr<KivaChip> kiva;
};

// The virtual Writer with all three chips in its socket, blank, as the
// program's --writer sim uses it.
std::unique_ptr<VirtualWriter> makeStandardWriter();
// The same, handing out its chips (the persistent Writer sets them up).
std::unique_ptr<VirtualWriter> makeStandardWriter(StandardChips& chips);

}  // namespace sonoprog::sim
