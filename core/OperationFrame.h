#pragma once

#include <string>
#include <string_view>

#include "core/Clock.h"
#include "core/OperationLog.h"
#include "core/TabLock.h"

namespace sonoprog::core {

enum class TimeLines { No, Yes };

// The frame every writer-tab operation follows: lock the tab, clear the pane,
// the bold heading and (Tarn20 write, verify, read) the "Start: " line; a
// continue flag that a failing step clears; at the end the "End: " line and
// the unlock. finish() runs from the destructor as well, so the tab is unlocked
// on every path, an exception included.
class OperationFrame {
public:
    OperationFrame(OperationLog& log, TabLock& lock, Clock& clock, std::string_view heading,
                   TimeLines timeLines = TimeLines::No);
    ~OperationFrame();
    OperationFrame(const OperationFrame&) = delete;
    OperationFrame& operator=(const OperationFrame&) = delete;

    bool ok() const { return ok_; }
    // Clears the continue flag without a line (the line comes later, from the result step).
    void clearFlag() { ok_ = false; }

    void step(std::string_view text) { log_.step(text); }
    void pass(std::string_view message) { log_.pass(message); }
    // Logs the fail line and clears the continue flag.
    void fail(std::string_view message);
    void warn(std::string_view message) { log_.warn(message); }
    void progress(long long percent) { log_.progress(percent); }

    OperationLog& log() { return log_; }

    // The "End: " line (when the frame has time lines) and the unlock. Callers
    // close their files first. Runs once.
    void finish();

private:
    OperationLog& log_;
    TabLock& lock_;
    Clock& clock_;
    TimeLines timeLines_;
    bool ok_ = true;
    bool finished_ = false;
};

}  // namespace sonoprog::core
