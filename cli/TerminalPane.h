#pragma once

#include <cstdio>
#include <optional>
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
    // starts its gauge and figures afresh.
    void clearLines() override {
        lastPercent_ = -1;
        gaugeSeen_ = false;
        figures_.reset();
        failedHere_ = false;
    }
    void appendLine(const core::LogLine& line) override;
    void setProgress(int percent) override;
    // The figures ride on the gauge's progress objects and bar; work without a
    // gauge (the Sound Editor's) prints them at each whole percentage of its own.
    void setProgressFigures(const core::ProgressFigures& figures) override;

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
    void showProgress(int percent);
    void drawBar(int percent);

    std::FILE* out_;
    std::FILE* err_;
    PaneStyle style_;
    int lastPercent_ = -1;
    bool gaugeSeen_ = false;  // this operation drives the gauge itself
    std::optional<core::ProgressFigures> figures_;
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
// {"kind":"progress","percent":37} and, with figures,
// ...,"unit":"pages","done":8000,"total":124032,"elapsed_s":72.0,"eta_s":250.0}
// (eta_s null while the time left is unknown).
std::string jsonProgress(int percent, const std::optional<core::ProgressFigures>& figures);
// The line's text without its indent and its marks ("    [O] ", "  -> ").
std::string bareText(const core::LogLine& line);
// Text for a terminal with its control characters written out ("\n", "\r",
// "\x1B"), so that a file name cannot start a line of its own or recolour
// the terminal; tabs stay.
std::string visibleText(std::string_view text);
// The line as a terminal shows it, with ANSI colour and bold when asked.
std::string terminalLine(const core::LogLine& line, bool colour);

}  // namespace sonoprog::cli
