#pragma once

#include "core/OperationServices.h"

namespace sonoprog::test {

// The services a chip's operations run on, taken from any rig that holds the
// recorders and the link under the usual names (the unit rigs, the sweeps'
// rig, the USB backend's fixture): one way of wiring them for every rig.
template <class Rig>
core::OperationServices servicesOf(Rig& rig) {
    return core::OperationServices{rig.log,   rig.lock,  rig.yield, rig.prompter,
                                   rig.clock, rig.paths, &rig.link};
}

}  // namespace sonoprog::test
