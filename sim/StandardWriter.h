#pragma once

#include <memory>

#include "VirtualWriter.h"

namespace sonoprog::sim {

// The virtual Writer with all three chips in its socket, blank, as the
// program's --writer sim uses it.
std::unique_ptr<VirtualWriter> makeStandardWriter();

}  // namespace sonoprog::sim
