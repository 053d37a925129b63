#pragma once

#include <QRect>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "gui/TabReporting.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace sonoprog::gui {

class Gauge;
class LogPane;

// The one design of the three writer pages (Tarn20, Series Flash, Kiva300):
// the file row (caption, path field, Load File) at the top, one row of
// captioned fields under it, the action buttons in one column on the right,
// the log pane beside the column and the gauge across the page's foot. Every
// place is fixed here, so the pages cannot drift apart; a page only says which
// of its controls go where. Captions stand above their fields in the style of
// the Information page (bold 16 px), field texts are bold 13 px.
class WriterPage : public QWidget {
    Q_OBJECT
public:
    // The action column, top to bottom. Every button keeps the place of its
    // role even where a page lacks another role, so Write and Verify sit in
    // the same spot on every page. Extra is the page's own last action.
    enum class Action { BlankCheck = 0, Write = 1, Verify = 2, Extra = 3 };

    // The row of fields holds kFieldSlots equal slots; a field takes one or more.
    static constexpr int kFieldSlots = 6;

    static QRect fileCaptionRect();
    static QRect fileFieldRect();
    static QRect loadButtonRect();
    static QRect fieldCaptionRect(int slot, int span = 1);
    static QRect fieldRect(int slot, int span = 1);
    static QRect actionRect(Action action);
    // The room in the column under the buttons, for a page's side field.
    static QRect sideCaptionRect();
    static QRect sideFieldRect();
    static QRect paneRect();
    static QRect gaugeRect();
    // The line of figures beside the gauge: done of total, elapsed, time left.
    static QRect figuresRect();
    // The Stop button, at the foot of the column while an operation runs.
    static QRect stopRect();

    LogPane* pane() const { return pane_; }
    Gauge* gauge() const { return gauge_; }
    QLabel* figures() const { return figures_; }

protected:
    // pageName, paneName, gaugeName: the product's own object names (PAGE_Tarn_WRT,
    // RE_Tarn_State, CG_Tarn_Progress, ...).
    WriterPage(const char* pageName, const char* paneName, const char* gaugeName, QWidget* parent);
    ~WriterPage() override;

    // The file row: the read-only path field and its caption.
    QLineEdit* addFileField(const char* name, const char* caption);
    QPushButton* addLoadButton(const char* name);
    // A captioned field in the row of fields.
    QLineEdit* addField(const char* name, const char* caption, int slot, int span = 1,
                        bool readOnly = true, const char* text = "");
    QComboBox* addListField(const char* name, const char* caption, int slot, int span = 1);
    // A button of the action column. `parent` is the page unless the button
    // lives in a panel of its own (the Tarn20 engineering panel), which the
    // page then places on actionRect().
    QPushButton* addAction(const char* name, const char* caption, Action action,
                           QWidget* parent = nullptr);
    // A captioned widget in the column under the buttons.
    void addSideField(QWidget* field, const char* name, const char* caption);
    // The Stop button of a page with long work (BT_Tarn_Stop, ...): hidden until
    // an operation locks the page, it then ends the operation at its next
    // step, as Esc does. Made before makeReporting().
    QPushButton* addStopButton(const char* name);

    // One operation of the page, the same on every page: the edits into the
    // page's operation fields, the operation, the fields back into the edits
    // (the operation may have changed them, also when it failed). Returns the
    // operation's result.
    bool run(const std::function<bool()>& operation);
    // The copies run() makes around an operation.
    virtual void fieldsFromEdits() {}
    virtual void editsFromFields() {}

    // The tab's lock over its fixed control list and its log helpers; made
    // once the page's controls exist.
    void makeReporting(std::vector<QWidget*> lockList);
    TabReporting& report() { return *report_; }

private:
    QLabel* addCaption(const char* fieldName, const char* caption, QRect geometry);

    LogPane* pane_ = nullptr;
    Gauge* gauge_ = nullptr;
    QLabel* figures_ = nullptr;
    QPushButton* stop_ = nullptr;
    std::unique_ptr<TabReporting> report_;
};

}  // namespace sonoprog::gui
