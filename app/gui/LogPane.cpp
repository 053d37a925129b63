#include "LogPane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "Gauge.h"

namespace sonoprog::gui {

LogPane::LogPane(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QTextEdit::WidgetWidth);
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(13);
    setFont(f);
    // Keep the newest line in view whenever the content changes.
    connect(this, &QTextEdit::textChanged, this,
            [this] { verticalScrollBar()->setValue(verticalScrollBar()->maximum()); });
}

void LogPane::appendLogLine(const core::LogLine& line) {
    QTextCharFormat format;
    format.setForeground(line.colour ? QColor(line.colour->r, line.colour->g, line.colour->b)
                                     : palette().color(QPalette::Text));
    format.setFontWeight(line.bold ? QFont::Bold : QFont::Normal);
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (lines_++ > 0) cursor.insertBlock();
    // The pane keeps blanks as they are: leading blanks are part of the texts.
    cursor.insertText(QString::fromLocal8Bit(line.text.data(), qsizetype(line.text.size())),
                      format);
}

void LogPane::clearLines() {
    clear();
    lines_ = 0;
}

QStringList LogPane::lineTexts() const {
    QStringList out;
    if (lines_ == 0) return out;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) out << b.text();
    return out;
}

void PaneAdapter::clearLines() {
    pane_.clearLines();
}
void PaneAdapter::appendLine(const core::LogLine& line) {
    pane_.appendLogLine(line);
}
void PaneAdapter::setProgress(int percent) {
    gauge_.setProgress(percent);
}

}  // namespace sonoprog::gui
