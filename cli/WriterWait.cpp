#include "cli/WriterWait.h"

namespace sonoprog::cli {

namespace {

constexpr const char* kHint = "(--writer sim runs the virtual Writer)";

}  // namespace

WriterWait waitForWriter(const WriterWaitHooks& hooks, std::optional<std::chrono::seconds> limit) {
    if (hooks.attached()) return WriterWait::Attached;
    const auto start = hooks.now();
    hooks.say(std::string("no Writer is attached; waiting for one ") + kHint);
    auto nextReport = start + kWriterWaitReport;
    for (;;) {
        if (hooks.stop && hooks.stop->load()) return WriterWait::Stopped;
        const auto now = hooks.now();
        if (limit && now - start >= *limit) {
            hooks.say("no Writer was attached within " + std::to_string(limit->count()) + " s " +
                      kHint);
            return WriterWait::TimedOut;
        }
        if (now >= nextReport) {
            const auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - start);
            hooks.say("still no Writer attached after " + std::to_string(waited.count()) +
                      " s; waiting " + kHint);
            nextReport += kWriterWaitReport;
        }
        auto pause = hooks.pollInterval;
        if (limit) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(start + *limit - now);
            pause = std::min(pause, left);
        }
        hooks.sleep(pause);
        if (hooks.attached()) return WriterWait::Attached;
    }
}

}  // namespace sonoprog::cli
