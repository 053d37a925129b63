#include "gui/LogPane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "core/LineSafe.h"
#include "gui/Gauge.h"

namespace sonoprog::gui {

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(13);
    setFont(f);
    // Nobody edits the pane: an undo stack would only keep a copy of every line.
    setUndoRedoEnabled(false);
    // Keep the newest line in view whenever the content changes.
    connect(this, &QPlainTextEdit::textChanged, this,
            [this] { verticalScrollBar()->setValue(verticalScrollBar()->maximum()); });
}

void LogPane::appendLogLine(const core::LogLine& line) {
    QTextCharFormat format;
    format.setForeground(line.colour ? QColor(line.colour->r, line.colour->g, line.colour->b)
                                     : palette().color(QPalette::Active, QPalette::Text));
    format.setFontWeight(line.bold ? QFont::Bold : QFont::Normal);
    QTextCursor cursor(document());
    // One edit: the pane is laid out and scrolled to its end once per line,
    // not once for the new block and again for its text. Begun before the
    // move, which inside an edit does not lay out the last line to find the
    // cursor's place on screen.
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (holdsLines()) cursor.insertBlock();
    // The pane keeps blanks as they are: leading blanks are part of the texts.
    // A line break from a file name or a job would start a line of its own.
    const std::string shown = core::lineSafe(line.text);
    cursor.insertText(QString::fromLocal8Bit(shown.data(), qsizetype(shown.size())), format);
    cursor.block().setUserState(kLineState);
    cursor.endEditBlock();
}

bool LogPane::holdsLines() const {
    // An empty first line leaves the document looking empty; its block state
    // tells it from a cleared pane (however the pane was cleared).
    return !document()->isEmpty() || document()->firstBlock().userState() == kLineState;
}

void LogPane::clearLines() {
    clear();
}

QStringList LogPane::lineTexts() const {
    QStringList out;
    if (!holdsLines()) return out;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) out << b.text();
    return out;
}

void PaneAdapter::clearLines() {
    pane_.clearLines();
    // A new operation: the figures of the last one are no longer true.
    if (figures_) figures_->clear();
}
void PaneAdapter::appendLine(const core::LogLine& line) {
    pane_.appendLogLine(line);
}
void PaneAdapter::setProgress(int percent) {
    gauge_.setProgress(percent);
}
void PaneAdapter::setProgressFigures(const core::ProgressFigures& figures) {
    if (figures_) figures_->setText(QString::fromUtf8(core::progressText(figures)));
}

}  // namespace sonoprog::gui
