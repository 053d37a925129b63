#include "serialflash/SerialFlashPage.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace sonoprog::serialflash {

SerialFlashPage::SerialFlashPage(gui::TabEnvironment& env, QWidget* parent)
    : gui::WriterPage("PAGE_NOR_WRT", "RE_NOR_State", "CG_NOR_Progress", parent), env_(env) {
    ED_NOR_LoadFile = addFileField("ED_NOR_LoadFile", "BIN File");
    BT_NOR_LoadFile = addLoadButton("BT_NOR_LoadFile");
    ED_NOR_FileSize = addField("ED_NOR_FileSize", "File Size", 0);
    ED_NOR_ChkSum = addField("ED_NOR_ChkSum", "Check Sum", 1);
    CB_NOR_Device = addListField("CB_NOR_Device", "Device", 2, 2);
    ED_NOR_MemSize = addField("ED_NOR_MemSize", "Memory Size", 4);
    BT_NOR_Blank = addAction("BT_NOR_Blank", "Blank Check", Action::BlankCheck);
    BT_NOR_Write = addAction("BT_NOR_Write", "Write", Action::Write);
    BT_NOR_Verify = addAction("BT_NOR_Verify", "Verify", Action::Verify);
    BT_NOR_Stop = addStopButton("BT_NOR_Stop");

    RE_NOR_State = pane();
    CG_NOR_Progress = gauge();
    makeReporting({BT_NOR_LoadFile, BT_NOR_Blank, BT_NOR_Write, BT_NOR_Verify, CB_NOR_Device,
                   env_.deviceSel, env_.pcMain});
    operations_ = std::make_unique<SerialFlashOperations>(fields_, report().services(env_));

    // Only the operator's pick looks the device up, not a selection made in code.
    connect(CB_NOR_Device, &QComboBox::activated, this, [this](int) { CB_NOR_DeviceChange(); });
    connect(BT_NOR_LoadFile, &QPushButton::clicked, this, &SerialFlashPage::BT_NOR_LoadFileClick);
    connect(BT_NOR_Blank, &QPushButton::clicked, this, &SerialFlashPage::BT_NOR_BlankClick);
    connect(BT_NOR_Write, &QPushButton::clicked, this, &SerialFlashPage::BT_NOR_WriteClick);
    connect(BT_NOR_Verify, &QPushButton::clicked, this, &SerialFlashPage::BT_NOR_VerifyClick);
}

SerialFlashPage::~SerialFlashPage() = default;

void SerialFlashPage::addDevice(const QString& name) {
    CB_NOR_Device->addItem(name);
}

void SerialFlashPage::selectFirstDevice() {
    if (CB_NOR_Device->count() == 0) return;
    CB_NOR_Device->setCurrentIndex(0);
    // The shown device is looked up as a pick would, so Memory Size (and the
    // Sound Editor's measure) is there from the start; a device without a
    // size shows 0 and is told of when it is picked or used.
    run([this] { return operations_->showDevice(); });
}

void SerialFlashPage::fieldsFromEdits() {
    fields_ = {gui::toLocal(CB_NOR_Device->currentText()), gui::toLocal(ED_NOR_MemSize->text()),
               gui::toLocal(ED_NOR_LoadFile->text()), gui::toLocal(ED_NOR_FileSize->text()),
               gui::toLocal(ED_NOR_ChkSum->text())};
}

void SerialFlashPage::editsFromFields() {
    ED_NOR_MemSize->setText(gui::fromLocal(fields_.memSize));
    ED_NOR_LoadFile->setText(gui::fromLocal(fields_.loadFile));
    ED_NOR_FileSize->setText(gui::fromLocal(fields_.fileSize));
    ED_NOR_ChkSum->setText(gui::fromLocal(fields_.chkSum));
}

void SerialFlashPage::CB_NOR_DeviceChange() {
    run([this] { return operations_->deviceChange(); });
}
void SerialFlashPage::BT_NOR_LoadFileClick() {
    run([this] {
        return operations_->loadImage(
            core::openDialogChoice(env_.files, SerialFlashOperations::kImageDialog));
    });
}
void SerialFlashPage::BT_NOR_BlankClick() {
    run([this] { return operations_->blankCheck(); });
}
void SerialFlashPage::BT_NOR_WriteClick() {
    run([this] { return operations_->write(); });
}
void SerialFlashPage::BT_NOR_VerifyClick() {
    run([this] { return operations_->verify(); });
}

}  // namespace sonoprog::serialflash
