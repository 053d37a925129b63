#include "tarn/TarnPage.h"

#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace sonoprog::tarn {

TarnPage::TarnPage(gui::TabEnvironment& env, QWidget* parent)
    : gui::WriterPage("PAGE_Tarn_WRT", "RE_Tarn_State", "CG_Tarn_Progress", parent), env_(env) {
    ED_Tarn_LoadFile = addFileField("ED_Tarn_LoadFile", "BIN File");
    BT_Tarn_LoadFile = addLoadButton("BT_Tarn_LoadFile");
    ED_Tarn_FileSize = addField("ED_Tarn_FileSize", "File Size", 0);
    ED_Tarn_ChkSum = addField("ED_Tarn_ChkSum", "Check Sum", 1);
    ED_Tarn_PageBeg = addField("ED_Tarn_PageBeg", "Start Page", 2, 1, false, "0");
    ED_Tarn_PageCnt = addField("ED_Tarn_PageCnt", "Write Page", 3, 1, false, "1");
    ED_Tarn_InfoPage = addField("ED_Tarn_InfoPage", "Info Page", 4, 1, false, "17");
    ED_Tarn_AllowError = addField("ED_Tarn_AllowError", "Allow Error", 5, 1, false, "3");
    BT_Tarn_Write = addAction("BT_Tarn_Write", "Write", Action::Write);
    BT_Tarn_Verify = addAction("BT_Tarn_Verify", "Verify", Action::Verify);
    BT_Tarn_Stop = addStopButton("BT_Tarn_Stop");

    // Read lives on the engineering panel, which stands on the column's last
    // place and is shown only in engineering mode.
    PN_Tarn_Eng = new QFrame(this);
    PN_Tarn_Eng->setObjectName(QStringLiteral("PN_Tarn_Eng"));
    PN_Tarn_Eng->setGeometry(actionRect(Action::Extra));
    BT_Tarn_Read = addAction("BT_Tarn_Read", "Read", Action::Extra, PN_Tarn_Eng);
    PN_Tarn_Eng->setVisible(false);  // until start-up finds the engineering mode on

    RE_Tarn_State = pane();
    CG_Tarn_Progress = gauge();
    makeReporting({BT_Tarn_LoadFile, BT_Tarn_Write, BT_Tarn_Verify, ED_Tarn_PageBeg,
                   ED_Tarn_PageCnt, ED_Tarn_InfoPage, ED_Tarn_AllowError, BT_Tarn_Read,
                   env_.deviceSel, env_.pcMain});
    operations_ = std::make_unique<TarnOperations>(fields_, report().services(env_));

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
    run([this] {
        return operations_->loadImage(
            core::openDialogChoice(env_.files, TarnOperations::kImageDialog));
    });
}
void TarnPage::BT_Tarn_WriteClick() {
    run([this] { return operations_->write(); });
}
void TarnPage::BT_Tarn_VerifyClick() {
    run([this] { return operations_->verify(); });
}
void TarnPage::BT_Tarn_ReadClick() {
    run([this] { return operations_->read(); });
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
