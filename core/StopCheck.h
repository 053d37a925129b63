#pragma once

#include <atomic>
#include <string_view>

namespace sonoprog::core {

// The warn line of work the operator stopped; it stands where the result
// line would have, and the pass line never follows it.
inline constexpr std::string_view kStoppedByOperator = "Stopped by the operator.";

// Asked by the long loops at each step boundary (a page, a block, a section,
// a file): whether the operator wants the work to end there. The operation
// still runs its closing steps.
class StopCheck {
public:
    virtual ~StopCheck() = default;
    virtual bool stopRequested() = 0;
};

// The Stop button's flag: set by the window (or a signal), cleared by the
// front end before the next operation starts.
class StopFlag final : public StopCheck {
public:
    bool stopRequested() override { return flag_.load(std::memory_order_relaxed); }
    void request() { flag_.store(true, std::memory_order_relaxed); }
    void clear() { flag_.store(false, std::memory_order_relaxed); }

private:
    std::atomic<bool> flag_{false};
};

}  // namespace sonoprog::core
