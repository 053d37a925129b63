#include "StandardWriter.h"

// One include and one addChip line per chip model.
#include "SerialFlashChip.h"

namespace sonoprog::sim {

std::unique_ptr<VirtualWriter> makeStandardWriter(StandardChips& chips) {
    auto writer = std::make_unique<VirtualWriter>();
    chips.serialFlash = std::make_shared<SerialFlashChip>();
    writer->addChip(chips.serialFlash);
    return writer;
}

std::unique_ptr<VirtualWriter> makeStandardWriter() {
    StandardChips chips;
    return makeStandardWriter(chips);
}

}  // namespace sonoprog::sim
