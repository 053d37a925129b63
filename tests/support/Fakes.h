#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/FileChooser.h"
#include "core/LogLine.h"
#include "core/OperationLog.h"
#include "core/OperationPane.h"
#include "core/Prompter.h"
#include "core/StopCheck.h"
#include "core/TabLock.h"
#include "core/YieldHook.h"

namespace sonoprog::test {

// Records every line and gauge value exactly as a pane would show them.
class RecordingPane final : public core::OperationPane {
public:
    void clearLines() override {
        lines.clear();
        ++clears;
    }
    void appendLine(const core::LogLine& line) override { lines.push_back(line); }
    void setProgress(int percent) override {
        progress = percent;
        progressHistory.push_back(percent);
    }
    void setProgressFigures(const core::ProgressFigures& f) override { figures.push_back(f); }
    std::vector<std::string> texts() const;
    // Index of the first line with this exact text, -1 when absent.
    int find(const std::string& text) const;
    bool has(const std::string& text) const { return find(text) >= 0; }

    std::vector<core::LogLine> lines;
    int progress = 0;
    std::vector<int> progressHistory;
    std::vector<core::ProgressFigures> figures;
    int clears = 0;
};

// Records lock and unlock calls ("lock", "unlock") and whether the tab is locked now.
class RecordingLock final : public core::TabLock {
public:
    void lock() override {
        events.push_back("lock");
        locked = true;
    }
    void unlock() override {
        events.push_back("unlock");
        locked = false;
    }
    std::vector<std::string> events;
    bool locked = false;
};

struct Box {
    std::string caption;
    std::string text;
    core::BoxIcon icon;
    bool question = false;
    friend bool operator==(const Box&, const Box&) = default;
};

// Records every box; questions take the queued answers (default: yes).
class RecordingPrompter final : public core::Prompter {
public:
    void showMessage(std::string_view caption, std::string_view text, core::BoxIcon icon) override;
    bool askYesNo(std::string_view caption, std::string_view text, core::BoxIcon icon) override;

    std::vector<Box> boxes;
    std::deque<bool> answers;
};

// Dialogs answered from queues; an empty queue means the operator cancels.
class ScriptedFileChooser final : public core::FileChooser {
public:
    std::optional<std::string> chooseOpenFile(const core::FileDialogRequest& request) override;
    std::vector<std::string> chooseOpenFiles(const core::FileDialogRequest& request) override;
    std::optional<std::string> chooseSaveFile(const core::FileDialogRequest& request) override;

    std::deque<std::optional<std::string>> openAnswers;
    std::deque<std::vector<std::string>> multiAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
    std::vector<core::FileDialogRequest> requests;
};

// Always answers the same local time (7 June 2011, 04:50:07 unless changed);
// its steady time moves only when a test moves it.
class FixedClock final : public core::Clock {
public:
    FixedClock();
    std::tm localNow() override { return now; }
    std::chrono::microseconds steadyNow() override { return steady; }
    std::tm now{};
    std::chrono::microseconds steady{0};
};

// Asks to stop from its (after + 1)th question on.
struct StopAfter final : core::StopCheck {
    explicit StopAfter(int after = 0) : after(after) {}
    bool stopRequested() override { return ++asked > after; }
    int after;
    int asked = 0;
};

class CountingYield final : public core::YieldHook {
public:
    void yield() override { ++count; }
    long long count = 0;
};

// The recorders a chip's operations report through: its pane and log, the
// lock, the yield, the file dialogs and the clock. A rig holds them beside its
// Writer, link and prompter.
struct RecordingServices {
    RecordingPane pane;
    core::OperationLog log{pane};
    RecordingLock lock;
    CountingYield yield;
    ScriptedFileChooser files;
    FixedClock clock;
};

}  // namespace sonoprog::test
