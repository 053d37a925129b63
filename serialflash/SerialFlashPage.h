#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "gui/QtServices.h"
#include "gui/WriterPage.h"
#include "serialflash/SerialFlashOperations.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace sonoprog::serialflash {

// The "Series Flash Writer" page (PAGE_NOR_WRT), on the writer page template:
// a thin front end over SerialFlashOperations. Each handler copies the fields
// in, runs the operation and shows what it changed.
class SerialFlashPage final : public gui::WriterPage {
    Q_OBJECT
public:
    explicit SerialFlashPage(gui::TabEnvironment& env, QWidget* parent = nullptr);
    ~SerialFlashPage() override;

    // Start-up fills CB_NOR_Device and selects its first entry, which looks
    // the device up without the box a pick shows.
    void addDevice(const QString& name);
    void selectFirstDevice();
    QComboBox* deviceList() const { return CB_NOR_Device; }

    // Handlers, named after their controls.
    void CB_NOR_DeviceChange();
    void BT_NOR_LoadFileClick();
    void BT_NOR_BlankClick();
    void BT_NOR_WriteClick();
    void BT_NOR_VerifyClick();

    void LockNORTab() { report().lock().lock(); }
    void UnlockNORTab() { report().lock().unlock(); }

private:
    void fieldsFromEdits() override;
    void editsFromFields() override;

    gui::TabEnvironment& env_;
    SerialFlashFields fields_;
    std::unique_ptr<SerialFlashOperations> operations_;
    QComboBox* CB_NOR_Device = nullptr;
    QLineEdit* ED_NOR_MemSize = nullptr;
    QLineEdit* ED_NOR_LoadFile = nullptr;
    QLineEdit* ED_NOR_FileSize = nullptr;
    QLineEdit* ED_NOR_ChkSum = nullptr;
    QPushButton* BT_NOR_LoadFile = nullptr;
    QPushButton* BT_NOR_Blank = nullptr;
    QPushButton* BT_NOR_Write = nullptr;
    QPushButton* BT_NOR_Verify = nullptr;
    QPushButton* BT_NOR_Stop = nullptr;  // shown while an operation runs
    gui::LogPane* RE_NOR_State = nullptr;
    gui::Gauge* CG_NOR_Progress = nullptr;
};

}  // namespace sonoprog::serialflash
