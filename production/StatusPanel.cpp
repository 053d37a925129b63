#include "production/StatusPanel.h"

#include <algorithm>
#include <iterator>

#include "gui/QtServices.h"
#include "production/UnitRunner.h"

namespace sonoprog::production {

namespace {

// How each status looks: its colour, and whether it is a unit's result.
struct StatusLook {
    TileStatus status;
    const char* colour;
    bool result;
};

constexpr StatusLook kLooks[] = {
    {TileStatus::Ready, "#d0d0d0", false},       {TileStatus::InsertChip, "#fff3b0", false},
    {TileStatus::Programming, "#b0d8ff", false}, {TileStatus::Pass, "#9be59b", true},
    {TileStatus::Fail, "#ff9b9b", true},         {TileStatus::Disconnected, "#ff9b9b", false},
    {TileStatus::Stopped, "#ff9b9b", false},
};

const StatusLook& lookOf(TileStatus status) {
    const auto it = std::find_if(std::begin(kLooks), std::end(kLooks),
                                 [status](const StatusLook& l) { return l.status == status; });
    return it != std::end(kLooks) ? *it : kLooks[0];
}

}  // namespace

const char* tileStatusColour(TileStatus status) {
    return lookOf(status).colour;
}

QString socketNoteStyle() {
    return QStringLiteral(
        "QLabel { background: #ffbf3f; color: #402000; font-weight: bold; padding: 3px; }");
}

StatusPanel::StatusPanel(const TileScale& scale, QWidget* parent) : QLabel(parent), scale_(scale) {
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    setTextFormat(Qt::RichText);
    setMinimumSize(1, 1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
}

void StatusPanel::showStatus(TileStatus status, const std::string& detail) {
    // The status text's first line is the word; what follows, the reason.
    const std::string text = tileStatusText(status, detail);
    const auto cut = text.find('\n');
    const StatusLook& look = lookOf(status);
    word_ = gui::fromLocal(text.substr(0, cut));
    // Plain: the reason as the unit's line says it, without its marker or indent.
    detail_ =
        cut == std::string::npos ? QString() : gui::fromLocal(failMessage(text.substr(cut + 1)));
    colour_ = QString::fromLatin1(look.colour);
    result_ = look.result;
    render();
}

void StatusPanel::showWord(const QString& word, const char* colour, const QString& detail) {
    word_ = word;
    detail_ = detail;
    colour_ = QString::fromLatin1(colour);
    result_ = false;
    render();
}

void StatusPanel::setScale(const TileScale& scale) {
    scale_ = scale;
    render();
}

void StatusPanel::render() {
    plain_ = detail_.isEmpty() ? word_ : word_ + QLatin1Char('\n') + detail_;
    const int wordPx = result_ ? scale_.resultPx : scale_.statePx;
    QString html = QStringLiteral("<div style=\"font-size:%1px; font-weight:bold\">%2</div>")
                       .arg(wordPx)
                       .arg(word_.toHtmlEscaped());
    if (!detail_.isEmpty())
        html += QStringLiteral("<div style=\"font-size:%1px\">%2</div>")
                    .arg(scale_.detailPx)
                    .arg(detail_.toHtmlEscaped());
    setText(html);
    setStyleSheet(
        QStringLiteral("QLabel { background: %1; border: 1px solid gray; }").arg(colour_));
    Q_EMIT shown(plain_);
}

}  // namespace sonoprog::production
