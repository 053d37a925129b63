#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "core/LogLine.h"
#include "core/OperationPane.h"

namespace sonoprog::cli {

struct PaneStyle {
    bool json = false;         // one JSON object per line
    bool colour = false;       // ANSI colours and bold on standard output
    bool progressBar = false;  // a redrawn bar on standard error
};

// The operation pane of the command line: every line the window would show,
// in order, one per line on standard output; the gauge as JSON progress
// objects or a bar on the terminal.
class TerminalPane final : public core::OperationPane {
public:
    TerminalPane(std::FILE* out, std::FILE* err, PaneStyle style)
        : out_(out), err_(err), style_(style) {}
    ~TerminalPane() override { endProgressBar(); }

    // The terminal keeps what earlier operations printed; a new operation only
    // starts its gauge afresh.
    void clearLines() override { lastPercent_ = -1; }
    void appendLine(const core::LogLine& line) override;
    void setProgress(int percent) override;

    // Takes the bar off the terminal before something else is printed there.
    void endProgressBar();

    bool sawFail() const { return sawFail_; }

private:
    std::FILE* out_;
    std::FILE* err_;
    PaneStyle style_;
    int lastPercent_ = -1;
    bool barShown_ = false;
    bool sawFail_ = false;
};

// A JSON string literal: quotes, backslashes and control characters escaped;
// bytes that are not UTF-8 (the program's texts are 8-bit) taken as Latin-1.
std::string jsonString(std::string_view text);
// {"kind":"pass","text":"    [O] Passed!","rgb":"#0000FF","bold":false}
std::string jsonLine(const core::LogLine& line);
// The line as a terminal shows it, with ANSI colour and bold when asked.
std::string terminalLine(const core::LogLine& line, bool colour);

}  // namespace sonoprog::cli
