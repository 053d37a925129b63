#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/Clock.h"
#include "core/OperationServices.h"
#include "core/ProgressFigures.h"

namespace sonoprog::core {

// The estimate: the rate of the work done so far, taken over the whole loop,
// applied to the work left. It is given once a hundredth of the work is done
// and the clock has moved, so that a first slow step does not set it.
class ProgressModel {
public:
    ProgressModel(Clock& clock, ProgressUnit unit, std::uint64_t total);
    ProgressFigures at(std::uint64_t done);
    std::uint64_t total() const { return total_; }

private:
    Clock& clock_;
    ProgressUnit unit_;
    std::uint64_t total_;
    std::chrono::microseconds start_;
};

// A long loop's figures and stop check over an operation's services. The
// loop calls report() at each step boundary; the pane gets the figures at
// the start, at the end, whenever the whole percentage changes and a few
// times a second in between, never once per step.
class ProgressReporter {
public:
    using Sink = std::function<void(const ProgressFigures&)>;
    // Figures to the operation's pane, the stop from its services.
    ProgressReporter(const OperationServices& services, ProgressUnit unit, std::uint64_t total);
    // For work that reports elsewhere (the Sound Editor's page).
    ProgressReporter(Sink sink, Clock& clock, StopCheck* stop, ProgressUnit unit,
                     std::uint64_t total);
    void report(std::uint64_t done);
    // Whether the operator has asked the loop to stop (Stop, Esc, Ctrl+C).
    bool stopRequested() const { return stop_ && stop_->stopRequested(); }

private:
    Sink sink_;
    StopCheck* stop_;
    ProgressModel model_;
    std::optional<std::uint64_t> lastPercent_;
    long long lastQuarter_ = -1;
};

}  // namespace sonoprog::core
