#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "cli/ExitCodes.h"

namespace sonoprog::cli {

// How often a wait for a Writer says it is still waiting.
inline constexpr std::chrono::seconds kWriterWaitReport{10};

// What the wait for a Writer looks at and tells; the clock and the sleep
// are the caller's, so that a test runs the ten-second reports at once.
struct WriterWaitHooks {
    std::function<bool()> attached;
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<void(const std::string&)> say;  // a line for standard error
    const std::atomic<bool>* stop = nullptr;
    std::chrono::milliseconds pollInterval{500};
};

enum class WriterWait { Attached, TimedOut, Stopped };

// Until a Writer is attached, the stop flag goes up or `limit` has passed;
// says so at the start and every kWriterWaitReport, naming --writer sim.
WriterWait waitForWriter(const WriterWaitHooks& hooks, std::optional<std::chrono::seconds> limit);

}  // namespace sonoprog::cli
