#include "kiva/KivaPage.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>

#include "ivr/Ivr2bin.h"

namespace sonoprog::kiva {

void QtDocumentOpener::openDocument(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(gui::fromLocal(path)));
}

KivaPage::KivaPage(gui::TabEnvironment& env, QWidget* parent)
    : gui::WriterPage("PAGE_Kiva_WRT", "RE_Kiva_State", "CG_Kiva_Progress", parent), env_(env) {
    ED_Kiva_LoadFile = addFileField("ED_Kiva_LoadFile", "DAT File");
    BT_Kiva_LoadFile = addLoadButton("BT_Kiva_LoadFile");
    ED_Kiva_ChkSum = addField("ED_Kiva_ChkSum", "Check Sum", 0);
    BT_Kiva_Blank = addAction("BT_Kiva_Blank", "Blank Check", Action::BlankCheck);
    BT_Kiva_Write = addAction("BT_Kiva_Write", "Write", Action::Write);
    BT_Kiva_Verify = addAction("BT_Kiva_Verify", "Verify", Action::Verify);
    BT_Kiva_AppNote = addAction("BT_Kiva_AppNote", "Application Note", Action::Extra);
    ME_Kiva_DatInfo = new QPlainTextEdit;
    ME_Kiva_DatInfo->setReadOnly(true);
    addSideField(ME_Kiva_DatInfo, "ME_Kiva_DatInfo", "DAT Info");
    RE_Kiva_State = pane();
    CG_Kiva_Progress = gauge();

    makeReporting({BT_Kiva_LoadFile, BT_Kiva_AppNote, BT_Kiva_Blank, BT_Kiva_Write, BT_Kiva_Verify,
                   env_.deviceSel, env_.pcMain});
    operations_ = std::make_unique<KivaOperations>(fields_, report().services(env_), env_.ivrKeys);

    connect(BT_Kiva_LoadFile, &QPushButton::clicked, this, &KivaPage::BT_Kiva_LoadFileClick);
    connect(BT_Kiva_AppNote, &QPushButton::clicked, this, &KivaPage::BT_Kiva_AppNoteClick);
    connect(BT_Kiva_Blank, &QPushButton::clicked, this, &KivaPage::BT_Kiva_BlankClick);
    connect(BT_Kiva_Write, &QPushButton::clicked, this, &KivaPage::BT_Kiva_WriteClick);
    connect(BT_Kiva_Verify, &QPushButton::clicked, this, &KivaPage::BT_Kiva_VerifyClick);
}

KivaPage::~KivaPage() = default;

void KivaPage::fieldsFromEdits() {
    fields_.loadFile = gui::toLocal(ED_Kiva_LoadFile->text());
    fields_.chkSum = gui::toLocal(ED_Kiva_ChkSum->text());
}

void KivaPage::editsFromFields() {
    ED_Kiva_LoadFile->setText(gui::fromLocal(fields_.loadFile));
    ED_Kiva_ChkSum->setText(gui::fromLocal(fields_.chkSum));
}

void KivaPage::BT_Kiva_LoadFileClick() {
    run([this] {
        return operations_->loadImage(
            core::openDialogChoice(env_.files, KivaOperations::kImageDialog));
    });
}
void KivaPage::BT_Kiva_AppNoteClick() {
    run([this] {
        const auto document = operations_->appNote();
        if (document) openDocument(*document);
        return document.has_value();
    });
}
void KivaPage::BT_Kiva_BlankClick() {
    run([this] { return operations_->blankCheck(); });
}
void KivaPage::BT_Kiva_WriteClick() {
    run([this] { return operations_->write(); });
}
void KivaPage::BT_Kiva_VerifyClick() {
    run([this] { return operations_->verify(); });
}

void KivaPage::openDocument(const std::string& path) {
    if (documentOpener_)
        documentOpener_->openDocument(path);
    else
        desktop_.openDocument(path);
}

}  // namespace sonoprog::kiva
