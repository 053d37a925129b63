#pragma once

#include <memory>

#include "VirtualWriter.h"

namespace sonoprog::sim {

class SerialFlashChip;

// The chips in the standard Writer's socket, for those that set them up.
struct StandardChips {
    std::shared_ptr<SerialFlashChip> serialFlash;
};

// The virtual Writer with all three chips in its socket, blank, as the
// program's --writer sim uses it.
std::unique_ptr<VirtualWriter> makeStandardWriter();
// The same, handing out its chips (the persistent Writer configures them).
std::unique_ptr<VirtualWriter> makeStandardWriter(StandardChips& chips);

}  // namespace sonoprog::sim
