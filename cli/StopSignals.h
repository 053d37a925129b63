#pragma once

#include <signal.h>

#include <atomic>

namespace sonoprog::cli {

// Raised by SIGINT and SIGTERM while a StopSignals is alive: a production run
// finishes its unit, then ends; a gang run passes the stop on to its workers.
extern std::atomic<bool> gStopRequested;

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
