#include "StandardWriter.h"

// One include and one addChip line per chip model.
#include "KivaChip.h"
#include "SerialFlashChip.h"
#include "TarnChip.h"

namespace sonoprog::sim {

std::unique_ptr<VirtualWriter> makeStandardWriter() {
    auto writer = std::make_unique<VirtualWriter>();
    writer->addChip(std::make_shared<SerialFlashChip>());
    writer->addChip(std::make_shared<TarnChip>());
    writer->addChip(std::make_shared<KivaChip>());
    return writer;
}

}  // namespace sonoprog::sim
