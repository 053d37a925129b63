#include "gui/WriterPage.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

#include "gui/Gauge.h"
#include "gui/LogPane.h"

namespace sonoprog::gui {

namespace {

// The page is the tab control's client area less a small margin; the column
// is wide enough for the longest caption ("Application Note") in Tahoma 13.
constexpr int kPageWidth = 765;
constexpr int kColumnWidth = 120;
constexpr int kColumnX = kPageWidth - kColumnWidth;
constexpr int kSlotWidth = 98;
constexpr int kSlotGap = 8;
constexpr int kFieldAreaWidth =
    WriterPage::kFieldSlots * kSlotWidth + (WriterPage::kFieldSlots - 1) * kSlotGap;  // 628

constexpr int kCaptionHeight = 19;
constexpr int kCaptionGap = 2;
constexpr int kFieldHeight = 24;
constexpr int kButtonHeight = 26;
constexpr int kButtonStep = kButtonHeight + 8;

constexpr int kFileRowTop = 5;
constexpr int kFileFieldTop = kFileRowTop + kCaptionHeight + kCaptionGap;  // 26
constexpr int kFieldRowTop = 58;
constexpr int kFieldTop = kFieldRowTop + kCaptionHeight + kCaptionGap;  // 79
// The page's own last action stands a little apart from the three common ones.
constexpr int kExtraGap = 8;

constexpr int kPaneTop = kFieldTop + kFieldHeight + 12;  // 115
constexpr int kPaneBottom = 490;
constexpr int kGaugeTop = kPaneBottom + 6;
constexpr int kGaugeHeight = 22;
// The gauge keeps the left of its row; the figures line takes the rest, wide
// enough for "16,777,216 of 16,777,216 bytes · 1:23:45 elapsed · 1:23:45 left".
constexpr int kGaugeWidth = 300;
constexpr int kFiguresGap = 8;
constexpr int kSideTop = 230;

QFont tahoma(int pixelHeight, bool bold) {
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(pixelHeight);
    f.setBold(bold);
    return f;
}

// ED_Tarn_PageCnt -> LB_Tarn_PageCnt: a caption is named after its field.
QString captionName(const char* fieldName) {
    QString name = QString::fromLatin1(fieldName);
    const qsizetype bar = name.indexOf(QLatin1Char('_'));
    return QStringLiteral("LB") + (bar >= 0 ? name.mid(bar) : QLatin1Char('_') + name);
}

// Read-only fields leave the focus chain: when the lock disables the focused
// button, the focus does not land in a field and select its text.
void setReadOnlyField(QLineEdit* edit, bool readOnly) {
    edit->setReadOnly(readOnly);
    if (readOnly) edit->setFocusPolicy(Qt::NoFocus);
}

}  // namespace

QRect WriterPage::fileCaptionRect() {
    return {0, kFileRowTop, kFieldAreaWidth, kCaptionHeight};
}
QRect WriterPage::fileFieldRect() {
    return {0, kFileFieldTop, kFieldAreaWidth, kFieldHeight};
}
QRect WriterPage::loadButtonRect() {
    return {kColumnX, kFileFieldTop - (kButtonHeight - kFieldHeight) / 2, kColumnWidth,
            kButtonHeight};
}
QRect WriterPage::fieldCaptionRect(int slot, int span) {
    QRect r = fieldRect(slot, span);
    return {r.x(), kFieldRowTop, r.width(), kCaptionHeight};
}
QRect WriterPage::fieldRect(int slot, int span) {
    return {slot * (kSlotWidth + kSlotGap), kFieldTop, span * kSlotWidth + (span - 1) * kSlotGap,
            kFieldHeight};
}
QRect WriterPage::actionRect(Action action) {
    const int k = static_cast<int>(action);
    // The first button stands level with the row of fields.
    const int top = kFieldTop + k * kButtonStep + (action == Action::Extra ? kExtraGap : 0);
    return {kColumnX, top - (kButtonHeight - kFieldHeight) / 2, kColumnWidth, kButtonHeight};
}
QRect WriterPage::sideCaptionRect() {
    return {kColumnX, kSideTop, kColumnWidth, kCaptionHeight};
}
QRect WriterPage::sideFieldRect() {
    const int top = kSideTop + kCaptionHeight + kCaptionGap;
    return {kColumnX, top, kColumnWidth, kPaneBottom - top};
}
QRect WriterPage::paneRect() {
    return {0, kPaneTop, kFieldAreaWidth, kPaneBottom - kPaneTop};
}
QRect WriterPage::gaugeRect() {
    return {0, kGaugeTop, kGaugeWidth, kGaugeHeight};
}
QRect WriterPage::figuresRect() {
    const int x = kGaugeWidth + kFiguresGap;
    return {x, kGaugeTop, kPageWidth - x, kGaugeHeight};
}
QRect WriterPage::stopRect() {
    return {kColumnX, kPaneBottom - kButtonHeight, kColumnWidth, kButtonHeight};
}

WriterPage::WriterPage(const char* pageName, const char* paneName, const char* gaugeName,
                       QWidget* parent)
    : QWidget(parent) {
    setObjectName(QString::fromLatin1(pageName));
    pane_ = new LogPane(this);
    pane_->setObjectName(QString::fromLatin1(paneName));
    pane_->setGeometry(paneRect());
    gauge_ = new Gauge(this);
    gauge_->setObjectName(QString::fromLatin1(gaugeName));
    gauge_->setGeometry(gaugeRect());
    figures_ = new QLabel(this);
    figures_->setObjectName(captionName(gaugeName));  // CG_Tarn_Progress -> LB_Tarn_Progress
    figures_->setFont(tahoma(13, false));
    figures_->setGeometry(figuresRect());
}

WriterPage::~WriterPage() = default;

QLabel* WriterPage::addCaption(const char* fieldName, const char* caption, QRect geometry) {
    auto* label = new QLabel(QString::fromLatin1(caption), this);
    label->setObjectName(captionName(fieldName));
    label->setFont(tahoma(16, true));
    label->setGeometry(geometry);
    return label;
}

bool WriterPage::run(const std::function<bool()>& operation) {
    fieldsFromEdits();
    const bool passed = operation();
    editsFromFields();
    return passed;
}

QLineEdit* WriterPage::addFileField(const char* name, const char* caption) {
    addCaption(name, caption, fileCaptionRect());
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setFont(tahoma(13, true));
    edit->setGeometry(fileFieldRect());
    setReadOnlyField(edit, true);
    return edit;
}

QPushButton* WriterPage::addLoadButton(const char* name) {
    auto* button = new QPushButton(QStringLiteral("Load File"), this);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(tahoma(13, false));
    button->setGeometry(loadButtonRect());
    return button;
}

QLineEdit* WriterPage::addField(const char* name, const char* caption, int slot, int span,
                                bool readOnly, const char* text) {
    addCaption(name, caption, fieldCaptionRect(slot, span));
    auto* edit = new QLineEdit(QString::fromLatin1(text), this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setFont(tahoma(13, true));
    edit->setGeometry(fieldRect(slot, span));
    setReadOnlyField(edit, readOnly);
    return edit;
}

QComboBox* WriterPage::addListField(const char* name, const char* caption, int slot, int span) {
    addCaption(name, caption, fieldCaptionRect(slot, span));
    auto* list = new QComboBox(this);
    list->setObjectName(QString::fromLatin1(name));
    list->setEditable(false);
    list->setFont(tahoma(13, true));
    list->setGeometry(fieldRect(slot, span));
    return list;
}

QPushButton* WriterPage::addAction(const char* name, const char* caption, Action action,
                                   QWidget* parent) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent ? parent : this);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(tahoma(13, false));
    // In a panel of its own the button fills the panel, which stands on the slot.
    button->setGeometry(parent ? QRect(QPoint(0, 0), actionRect(action).size())
                               : actionRect(action));
    return button;
}

void WriterPage::addSideField(QWidget* field, const char* name, const char* caption) {
    addCaption(name, caption, sideCaptionRect());
    field->setParent(this);
    field->setObjectName(QString::fromLatin1(name));
    field->setFont(tahoma(13, true));
    field->setGeometry(sideFieldRect());
}

QPushButton* WriterPage::addStopButton(const char* name) {
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    stop_->setObjectName(QString::fromLatin1(name));
    stop_->setFont(tahoma(13, false));
    stop_->setGeometry(stopRect());
    stop_->hide();
    connect(stop_, &QPushButton::clicked, this, [this] { report_->requestStop(); });
    // Esc does what Stop does, and only while Stop is there to press.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);  // the page is visible only while it is the current one
    connect(esc, &QShortcut::activated, this, [this] {
        if (stop_->isVisible()) report_->requestStop();
    });
    return stop_;
}

void WriterPage::makeReporting(std::vector<QWidget*> lockList) {
    report_ = std::make_unique<TabReporting>(*pane_, *gauge_, std::move(lockList), figures_);
    if (stop_) report_->setStopButton(stop_);
}

}  // namespace sonoprog::gui
