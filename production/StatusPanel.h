#pragma once

#include <QLabel>
#include <QString>
#include <string>

#include "production/OperatorLayout.h"
#include "production/WriterWorkers.h"

namespace sonoprog::production {

// The status panel's colour for a status (grey, yellow, blue, green, red),
// the same on a tile and on the one-Writer panel.
const char* tileStatusColour(TileStatus status);
// The amber note under a Writer's counters when its socket nears its life.
QString socketNoteStyle();

// The big coloured panel of a Writer: the status word, and under a FAIL the
// unit's plain reason. A result (PASS, FAIL) is shown in the largest font of
// the scale, the other words as wide as the panel allows. The one-Writer view
// and each tile show their Writer's status through one of these.
class StatusPanel final : public QLabel {
    Q_OBJECT
public:
    explicit StatusPanel(const TileScale& scale, QWidget* parent = nullptr);

    void showStatus(TileStatus status, const std::string& detail = {});
    // A word of the page's own ("OPEN A JOB") on a colour, in the state
    // font, with an optional line under it.
    void showWord(const QString& word, const char* colour, const QString& detail = {});
    void setScale(const TileScale& scale);
    const TileScale& scale() const { return scale_; }

    // The panel takes the room it is given, and its fonts follow that room:
    // were its text to ask for room in turn, the two would grow each other.
    bool hasHeightForWidth() const override { return false; }
    int heightForWidth(int) const override { return -1; }
    QSize sizeHint() const override { return {120, 60}; }
    QSize minimumSizeHint() const override { return {1, 1}; }

    // What is shown, as plain text: "FAIL\nVDD failed!".
    const QString& shownText() const { return plain_; }
    const QString& shownColour() const { return colour_; }
    bool showsResult() const { return result_; }

Q_SIGNALS:
    // Each status as it is put up (its plain text).
    void shown(const QString& text);

private:
    void render();

    TileScale scale_;
    QString word_;
    QString detail_;
    QString plain_;
    QString colour_;
    bool result_ = false;
};

}  // namespace sonoprog::production
