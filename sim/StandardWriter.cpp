#include "StandardWriter.h"

// One include and one addChip line per chip model.
#include "SerialFlashChip.h"

namespace sonoprog::sim {

std::unique_ptr<VirtualWriter> makeStandardWriter() {
    auto writer = std::make_unique<VirtualWriter>();
    writer->addChip(std::make_shared<SerialFlashChip>());
    return writer;
}

}  // namespace sonoprog::sim
