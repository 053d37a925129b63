#include "core/ChipRun.h"

namespace sonoprog::core {

ChipRun::ChipRun(const OperationServices& services, std::string_view heading, TimeLines timeLines)
    : s_(services), frame_(services.log, services.lock, services.clock, heading, timeLines) {}

bool ChipRun::begin(std::string_view stepText) {
    if (!frame_.ok()) return false;
    if (!stepText.empty()) frame_.step(stepText);
    return true;
}

bool ChipRun::end() {
    if (ended_) return result_;
    ended_ = true;
    result_ = frame_.ok();
    release();
    frame_.finish();
    return result_;
}

}  // namespace sonoprog::core
