#pragma once

#include <signal.h>

#include <atomic>

#include "core/StopCheck.h"

namespace sonoprog::cli {

// Raised by SIGINT and SIGTERM while a StopSignals is alive: a production run
// finishes its unit, then ends; a gang run passes the stop on to its workers.
extern std::atomic<bool> gStopRequested;

// The operations' stop check on the command line: a signal caught by a live
// StopSignals ends a long loop at its next step, as Stop does in the window.
class SignalStop final : public core::StopCheck {
public:
    bool stopRequested() override { return gStopRequested.load(); }
};

// Installed for the loop only. No SA_RESTART: a wait for Enter (or a poll)
// returns at once.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

}  // namespace sonoprog::cli
