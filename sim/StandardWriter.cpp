#include "sim/StandardWriter.h"

// One include and one addChip line per chip model.
#include "sim/KivaChip.h"
#include "sim/SerialFlashChip.h"
#include "sim/TarnChip.h"

namespace sonoprog::sim {

std::unique_ptr<VirtualWriter> makeStandardWriter(StandardChips& chips) {
    auto writer = std::make_unique<VirtualWriter>();
    chips.serialFlash = std::make_shared<SerialFlashChip>();
    chips.tarn = std::make_shared<TarnChip>();
    chips.kiva = std::make_shared<KivaChip>();
    writer->addChip(chips.serialFlash);
    writer->addChip(chips.tarn);
    writer->addChip(chips.kiva);
    return writer;
}

std::unique_ptr<VirtualWriter> makeStandardWriter() {
    StandardChips chips;
    return makeStandardWriter(chips);
}

}  // namespace sonoprog::sim
