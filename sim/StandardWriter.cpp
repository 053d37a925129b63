#include "StandardWriter.h"

// One include and one addChip line per chip model.

namespace sonoprog::sim {

std::unique_ptr<VirtualWriter> makeStandardWriter() {
    auto writer = std::make_unique<VirtualWriter>();
    return writer;
}

}  // namespace sonoprog::sim
