#pragma once

#include <QWidget>
#include <memory>

#include "gui/QtServices.h"
#include "gui/WriterPage.h"
#include "tarn/TarnOperations.h"

class QFrame;
class QLineEdit;
class QPushButton;

namespace sonoprog::tarn {

// The "Tarn20 Writer" page (PAGE_Tarn_WRT), on the writer page template: the
// image, the image fields and the range fields, Write and Verify, and Read on
// the engineering panel. The handlers copy the edits into the operation fields,
// run the operation of TarnOperations and copy the fields back.
class TarnPage final : public gui::WriterPage {
    Q_OBJECT
public:
    explicit TarnPage(gui::TabEnvironment& env, QWidget* parent = nullptr);
    ~TarnPage() override;

    // PN_Tarn_Eng with the Read button: shown only in engineering mode.
    void setEngineeringPanelVisible(bool visible);

    void BT_Tarn_LoadFileClick();
    void BT_Tarn_WriteClick();
    void BT_Tarn_VerifyClick();
    void BT_Tarn_ReadClick();

    void LockTarnTab() { report().lock().lock(); }
    void UnlockTarnTab() { report().lock().unlock(); }

    QLineEdit* ED_Tarn_LoadFile = nullptr;
    QLineEdit* ED_Tarn_FileSize = nullptr;
    QLineEdit* ED_Tarn_ChkSum = nullptr;
    QLineEdit* ED_Tarn_PageBeg = nullptr;
    QLineEdit* ED_Tarn_PageCnt = nullptr;
    QLineEdit* ED_Tarn_InfoPage = nullptr;
    QLineEdit* ED_Tarn_AllowError = nullptr;
    QPushButton* BT_Tarn_LoadFile = nullptr;
    QPushButton* BT_Tarn_Write = nullptr;
    QPushButton* BT_Tarn_Verify = nullptr;
    QPushButton* BT_Tarn_Read = nullptr;
    QPushButton* BT_Tarn_Stop = nullptr;  // shown while an operation runs
    QFrame* PN_Tarn_Eng = nullptr;
    gui::LogPane* RE_Tarn_State = nullptr;
    gui::Gauge* CG_Tarn_Progress = nullptr;

private:
    void fieldsFromEdits() override;
    void editsFromFields() override;

    gui::TabEnvironment& env_;
    TarnFields fields_;
    std::unique_ptr<TarnOperations> operations_;
};

}  // namespace sonoprog::tarn
