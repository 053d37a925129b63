#include "tarn/TarnPage.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "gui/Gauge.h"
#include "gui/LogPane.h"

namespace sonoprog::tarn {

namespace {

// Panels with a lowered inner bevel, bold labels above their fields, as on
// the Information page.
QFrame* makePanel(QWidget* parent, const char* name, QRect geometry) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setGeometry(geometry);
    return panel;
}

QLineEdit* makeField(QWidget* panel, const char* name, const char* label, QRect geometry,
                     bool readOnly, const char* text = "") {
    auto* caption = new QLabel(QString::fromLatin1(label), panel);
    caption->setObjectName(
        QString::fromLatin1(name).replace(QStringLiteral("ED_"), QStringLiteral("LB_")));
    // Tahoma like the rest of the window, whatever font the page starts in.
    QFont labelFont(QStringLiteral("Tahoma"));
    labelFont.setBold(true);
    labelFont.setPixelSize(16);
    caption->setFont(labelFont);
    caption->setGeometry(geometry.x(), geometry.y() - 21, geometry.width(), 19);

    auto* edit = new QLineEdit(QString::fromLatin1(text), panel);
    edit->setObjectName(QString::fromLatin1(name));
    QFont editFont(QStringLiteral("Tahoma"));
    editFont.setBold(true);
    editFont.setPixelSize(13);
    edit->setFont(editFont);
    edit->setGeometry(geometry);
    edit->setReadOnly(readOnly);
    if (readOnly) edit->setFocusPolicy(Qt::NoFocus);
    return edit;
}

QPushButton* makeButton(QWidget* panel, const char* name, const char* text, QRect geometry) {
    auto* button = new QPushButton(QString::fromLatin1(text), panel);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    return button;
}

}  // namespace

TarnPage::TarnPage(gui::TabEnvironment& env, QWidget* parent) : QWidget(parent), env_(env) {
    setObjectName(QStringLiteral("PAGE_Tarn_WRT"));

    // The image: its path, size and check sum, filled by Load File.
    QFrame* file = makePanel(this, "PN_Tarn_File", {0, 5, 765, 120});
    ED_Tarn_LoadFile = makeField(file, "ED_Tarn_LoadFile", "Load File", {10, 30, 640, 24}, true);
    BT_Tarn_LoadFile = makeButton(file, "BT_Tarn_LoadFile", "Load File", {660, 29, 95, 26});
    ED_Tarn_FileSize = makeField(file, "ED_Tarn_FileSize", "File Size", {10, 85, 310, 24}, true);
    ED_Tarn_ChkSum = makeField(file, "ED_Tarn_ChkSum", "Check Sum", {335, 85, 315, 24}, true);

    // The range and the operations.
    QFrame* range = makePanel(this, "PN_Tarn_Range", {0, 130, 765, 70});
    ED_Tarn_PageBeg =
        makeField(range, "ED_Tarn_PageBeg", "Start Page", {10, 32, 110, 24}, false, "0");
    ED_Tarn_PageCnt =
        makeField(range, "ED_Tarn_PageCnt", "Write Page", {130, 32, 110, 24}, false, "1");
    ED_Tarn_InfoPage =
        makeField(range, "ED_Tarn_InfoPage", "Info Page", {250, 32, 110, 24}, false, "17");
    ED_Tarn_AllowError =
        makeField(range, "ED_Tarn_AllowError", "Allow Error", {370, 32, 110, 24}, false, "3");
    BT_Tarn_Write = makeButton(range, "BT_Tarn_Write", "Write", {495, 31, 80, 26});
    BT_Tarn_Verify = makeButton(range, "BT_Tarn_Verify", "Verify", {585, 31, 80, 26});
    PN_Tarn_Eng = makePanel(range, "PN_Tarn_Eng", {672, 6, 88, 58});
    BT_Tarn_Read = makeButton(PN_Tarn_Eng, "BT_Tarn_Read", "Read", {6, 25, 76, 26});
    auto* engCaption = new QLabel(QStringLiteral("Engineer"), PN_Tarn_Eng);
    engCaption->setGeometry(6, 3, 76, 18);
    engCaption->setAlignment(Qt::AlignCenter);
    PN_Tarn_Eng->setVisible(false);  // until start-up finds the engineering mode on

    RE_Tarn_State = new gui::LogPane(this);
    RE_Tarn_State->setObjectName(QStringLiteral("RE_Tarn_State"));
    RE_Tarn_State->setGeometry(0, 208, 765, 282);
    CG_Tarn_Progress = new gui::Gauge(this);
    CG_Tarn_Progress->setObjectName(QStringLiteral("CG_Tarn_Progress"));
    CG_Tarn_Progress->setGeometry(0, 496, 765, 22);

    report_ = std::make_unique<gui::TabReporting>(
        *RE_Tarn_State, *CG_Tarn_Progress,
        std::vector<QWidget*>{BT_Tarn_LoadFile, BT_Tarn_Write, BT_Tarn_Verify, ED_Tarn_PageBeg,
                              ED_Tarn_PageCnt, ED_Tarn_InfoPage, ED_Tarn_AllowError, BT_Tarn_Read,
                              env_.deviceSel, env_.pcMain});
    operations_ = std::make_unique<TarnOperations>(fields_, report_->services(env_));

    connect(BT_Tarn_LoadFile, &QPushButton::clicked, this, &TarnPage::BT_Tarn_LoadFileClick);
    connect(BT_Tarn_Write, &QPushButton::clicked, this, &TarnPage::BT_Tarn_WriteClick);
    connect(BT_Tarn_Verify, &QPushButton::clicked, this, &TarnPage::BT_Tarn_VerifyClick);
    connect(BT_Tarn_Read, &QPushButton::clicked, this, &TarnPage::BT_Tarn_ReadClick);
}

TarnPage::~TarnPage() = default;

void TarnPage::setEngineeringPanelVisible(bool visible) {
    PN_Tarn_Eng->setVisible(visible);
}

void TarnPage::BT_Tarn_LoadFileClick() {
    fieldsFromEdits();
    operations_->loadImage(core::openDialogChoice(env_.files, TarnOperations::kImageDialog));
    editsFromFields();
}
void TarnPage::BT_Tarn_WriteClick() {
    run(&TarnOperations::write);
}
void TarnPage::BT_Tarn_VerifyClick() {
    run(&TarnOperations::verify);
}
void TarnPage::BT_Tarn_ReadClick() {
    run(&TarnOperations::read);
}

bool TarnPage::run(bool (TarnOperations::*operation)()) {
    fieldsFromEdits();
    const bool passed = ((*operations_).*operation)();
    editsFromFields();
    return passed;
}

void TarnPage::fieldsFromEdits() {
    fields_.LoadFile = gui::toLocal(ED_Tarn_LoadFile->text());
    fields_.FileSize = gui::toLocal(ED_Tarn_FileSize->text());
    fields_.ChkSum = gui::toLocal(ED_Tarn_ChkSum->text());
    fields_.PageBeg = gui::toLocal(ED_Tarn_PageBeg->text());
    fields_.PageCnt = gui::toLocal(ED_Tarn_PageCnt->text());
    fields_.InfoPage = gui::toLocal(ED_Tarn_InfoPage->text());
    fields_.AllowError = gui::toLocal(ED_Tarn_AllowError->text());
}

void TarnPage::editsFromFields() {
    ED_Tarn_LoadFile->setText(gui::fromLocal(fields_.LoadFile));
    ED_Tarn_FileSize->setText(gui::fromLocal(fields_.FileSize));
    ED_Tarn_ChkSum->setText(gui::fromLocal(fields_.ChkSum));
    ED_Tarn_PageBeg->setText(gui::fromLocal(fields_.PageBeg));
    ED_Tarn_PageCnt->setText(gui::fromLocal(fields_.PageCnt));
    ED_Tarn_InfoPage->setText(gui::fromLocal(fields_.InfoPage));
    ED_Tarn_AllowError->setText(gui::fromLocal(fields_.AllowError));
}

}  // namespace sonoprog::tarn
