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
    void clearLines() override {
        lastPercent_ = -1;
        failedHere_ = false;
    }
    void appendLine(const core::LogLine& line) override;
    void setProgress(int percent) override;

    // Takes the bar off the terminal before something else is printed there.
    void endProgressBar();

    // A line of the front end itself on standard error: the text as it stands
    // (control characters escaped), or under --json {"kind":KIND,"text":...}.
    void noteLine(std::string_view kind, std::string_view text);
    bool json() const { return style_.json; }

    bool sawFail() const { return sawFail_; }
    // The first fail line of the run, without its indent and mark.
    const std::string& firstFail() const { return firstFail_; }

private:
    std::FILE* out_;
    std::FILE* err_;
    PaneStyle style_;
    int lastPercent_ = -1;
    bool barShown_ = false;
    bool sawFail_ = false;
    bool failedHere_ = false;  // a fail line in the operation running now
    std::string firstFail_;
};

// A JSON string literal: quotes, backslashes and control characters escaped;
// bytes that are not UTF-8 (the program's texts are 8-bit) taken as Latin-1.
std::string jsonString(std::string_view text);
// A decimal integer text as a JSON number ("-1", "31744"); null when the
// text is not one.
std::string jsonNumber(std::string_view text);
// {"kind":"line","mark":"pass","text":"Passed!"}: the mark is one of pass,
// fail, warn, step and heading (a time line is a step).
std::string jsonLine(const core::LogLine& line);
// The line's text without its indent and its marks ("    [O] ", "  -> ").
std::string bareText(const core::LogLine& line);
// Text for a terminal with its control characters written out ("\n", "\r",
// "\x1B"), so that a file name cannot start a line of its own or recolour
// the terminal; tabs stay.
std::string visibleText(std::string_view text);
// The line as a terminal shows it, with ANSI colour and bold when asked.
std::string terminalLine(const core::LogLine& line, bool colour);

}  // namespace sonoprog::cli
