#include "cli/StopSignals.h"

namespace sonoprog::cli {

std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

namespace {

void requestStop(int) {
    gStopRequested.store(true);
}

}  // namespace

StopSignals::StopSignals() {
    gStopRequested.store(false);
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
}

}  // namespace sonoprog::cli
