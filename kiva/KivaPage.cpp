#include "kiva/KivaPage.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/Gauge.h"
#include "gui/LogPane.h"
#include "ivr/Ivr2bin.h"

namespace sonoprog::kiva {

void QtDocumentOpener::openDocument(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(gui::fromLocal(path)));
}

namespace {

template <typename T>
T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QPushButton* button(const char* name, const char* caption) {
    auto* b = named(new QPushButton(QString::fromLatin1(caption)), name);
    b->setMinimumSize(120, 30);
    return b;
}

QLineEdit* readOnlyField(const char* name) {
    auto* e = named(new QLineEdit, name);
    e->setReadOnly(true);
    // Out of the focus chain: when the lock disables the focused button, the
    // focus does not land in a field and select its text.
    e->setFocusPolicy(Qt::NoFocus);
    return e;
}

}  // namespace

KivaPage::KivaPage(gui::TabEnvironment& env, QWidget* parent) : QWidget(parent), env_(env) {
    setObjectName(QStringLiteral("PAGE_Kiva_WRT"));
    resize(775, 555);

    ED_Kiva_LoadFile = readOnlyField("ED_Kiva_LoadFile");
    ED_Kiva_ChkSum = readOnlyField("ED_Kiva_ChkSum");
    ED_Kiva_ChkSum->setMaximumWidth(120);
    BT_Kiva_LoadFile = button("BT_Kiva_LoadFile", "Load File");
    BT_Kiva_AppNote = button("BT_Kiva_AppNote", "Application Note");
    BT_Kiva_Blank = button("BT_Kiva_Blank", "Blank Check");
    BT_Kiva_Write = button("BT_Kiva_Write", "Write");
    BT_Kiva_Verify = button("BT_Kiva_Verify", "Verify");
    ME_Kiva_DatInfo = named(new QPlainTextEdit, "ME_Kiva_DatInfo");
    ME_Kiva_DatInfo->setReadOnly(true);
    RE_Kiva_State = named(new gui::LogPane, "RE_Kiva_State");
    CG_Kiva_Progress = named(new gui::Gauge, "CG_Kiva_Progress");

    auto* fileBox = new QGroupBox(QStringLiteral("DAT File"));
    auto* fileGrid = new QGridLayout(fileBox);
    fileGrid->addWidget(new QLabel(QStringLiteral("File")), 0, 0);
    fileGrid->addWidget(ED_Kiva_LoadFile, 0, 1, 1, 2);
    fileGrid->addWidget(BT_Kiva_LoadFile, 0, 3);
    fileGrid->addWidget(new QLabel(QStringLiteral("Check Sum")), 1, 0);
    fileGrid->addWidget(ED_Kiva_ChkSum, 1, 1);
    fileGrid->addWidget(BT_Kiva_AppNote, 1, 3);
    fileGrid->setColumnStretch(2, 1);

    auto* infoBox = new QGroupBox(QStringLiteral("DAT Info"));
    auto* infoLayout = new QVBoxLayout(infoBox);
    infoLayout->addWidget(ME_Kiva_DatInfo);

    auto* actions = new QVBoxLayout;
    actions->addWidget(BT_Kiva_Blank);
    actions->addWidget(BT_Kiva_Write);
    actions->addWidget(BT_Kiva_Verify);
    actions->addStretch(1);

    auto* middle = new QHBoxLayout;
    middle->addWidget(infoBox, 1);
    middle->addLayout(actions);

    auto* page = new QVBoxLayout(this);
    page->addWidget(fileBox);
    page->addLayout(middle, 2);
    page->addWidget(RE_Kiva_State, 3);
    page->addWidget(CG_Kiva_Progress);

    report_ = std::make_unique<gui::TabReporting>(
        *RE_Kiva_State, *CG_Kiva_Progress,
        std::vector<QWidget*>{BT_Kiva_LoadFile, BT_Kiva_AppNote, BT_Kiva_Blank, BT_Kiva_Write,
                              BT_Kiva_Verify, env_.deviceSel, env_.pcMain});
    operations_ = std::make_unique<KivaOperations>(fields_, report_->services(env_), env_.ivrKeys);

    connect(BT_Kiva_LoadFile, &QPushButton::clicked, this, &KivaPage::BT_Kiva_LoadFileClick);
    connect(BT_Kiva_AppNote, &QPushButton::clicked, this, &KivaPage::BT_Kiva_AppNoteClick);
    connect(BT_Kiva_Blank, &QPushButton::clicked, this, &KivaPage::BT_Kiva_BlankClick);
    connect(BT_Kiva_Write, &QPushButton::clicked, this, &KivaPage::BT_Kiva_WriteClick);
    connect(BT_Kiva_Verify, &QPushButton::clicked, this, &KivaPage::BT_Kiva_VerifyClick);
}

KivaPage::~KivaPage() = default;

template <typename Operation>
void KivaPage::run(Operation operation) {
    fields_.loadFile = gui::toLocal(ED_Kiva_LoadFile->text());
    fields_.checkSum = gui::toLocal(ED_Kiva_ChkSum->text());
    operation(*operations_);
    ED_Kiva_LoadFile->setText(gui::fromLocal(fields_.loadFile));
    ED_Kiva_ChkSum->setText(gui::fromLocal(fields_.checkSum));
}

void KivaPage::BT_Kiva_LoadFileClick() {
    run([this](KivaOperations& ops) {
        ops.loadImage(core::openDialogChoice(env_.files, KivaOperations::kImageDialog));
    });
}
void KivaPage::BT_Kiva_AppNoteClick() {
    run([this](KivaOperations& ops) {
        if (const auto document = ops.appNote()) openDocument(*document);
    });
}
void KivaPage::BT_Kiva_BlankClick() {
    run([](KivaOperations& ops) { ops.blankCheck(); });
}
void KivaPage::BT_Kiva_WriteClick() {
    run([](KivaOperations& ops) { ops.write(); });
}
void KivaPage::BT_Kiva_VerifyClick() {
    run([](KivaOperations& ops) { ops.verify(); });
}

void KivaPage::openDocument(const std::string& path) {
    if (documentOpener_)
        documentOpener_->openDocument(path);
    else
        desktop_.openDocument(path);
}

}  // namespace sonoprog::kiva
