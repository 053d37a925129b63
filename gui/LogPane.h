#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>

#include "core/OperationPane.h"

namespace sonoprog::gui {

class Gauge;

// A tab's log pane (RE_*_State): read-only text, Tahoma 13 px, one colour and
// boldness per line, always scrolled to its newest line. A plain-text edit
// lays out only the lines in view, so a line costs the same however many the
// pane already holds.
class LogPane final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogPane(QWidget* parent = nullptr);

    void appendLogLine(const core::LogLine& line);
    // Empties the pane (every operation starts with it).
    void clearLines();
    // The lines as shown, for tests.
    QStringList lineTexts() const;

private:
    static constexpr int kLineState = 1;
    bool holdsLines() const;
};

// The operation-pane interface over a log pane, its gauge and the line of
// figures beside the gauge (when the page has one).
class PaneAdapter final : public core::OperationPane {
public:
    PaneAdapter(LogPane& pane, Gauge& gauge, QLabel* figures = nullptr)
        : pane_(pane), gauge_(gauge), figures_(figures) {}
    void clearLines() override;
    void appendLine(const core::LogLine& line) override;
    void setProgress(int percent) override;
    void setProgressFigures(const core::ProgressFigures& figures) override;

private:
    LogPane& pane_;
    Gauge& gauge_;
    QPointer<QLabel> figures_;
};

}  // namespace sonoprog::gui
