#pragma once

#include <QWidget>
#include <memory>

#include "gui/QtServices.h"
#include "gui/WriterPage.h"
#include "kiva/KivaOperations.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace sonoprog::kiva {

// Opens a local document with the desktop's default handler. Whether it
// exists or opens is not reported.
class DocumentOpener {
public:
    virtual ~DocumentOpener() = default;
    virtual void openDocument(const std::string& path) = 0;
};

// Hands a local file to the desktop's default handler; never a shell.
class QtDocumentOpener final : public DocumentOpener {
public:
    void openDocument(const std::string& path) override;
};

// The "Kiva300 Writer" page (PAGE_Kiva_WRT), on the writer page template.
class KivaPage final : public gui::WriterPage {
    Q_OBJECT
public:
    explicit KivaPage(gui::TabEnvironment& env, QWidget* parent = nullptr);
    ~KivaPage() override;

    void BT_Kiva_LoadFileClick();
    void BT_Kiva_AppNoteClick();
    void BT_Kiva_BlankClick();
    void BT_Kiva_WriteClick();
    void BT_Kiva_VerifyClick();

    void LockKivaTab() { report().lock().lock(); }
    void UnlockKivaTab() { report().lock().unlock(); }

    // Where Application Note sends its document; nullptr = the desktop.
    void setDocumentOpener(DocumentOpener* opener) { documentOpener_ = opener; }

    QLineEdit* ED_Kiva_LoadFile = nullptr;
    QLineEdit* ED_Kiva_ChkSum = nullptr;
    QPlainTextEdit* ME_Kiva_DatInfo = nullptr;
    QPushButton* BT_Kiva_LoadFile = nullptr;
    QPushButton* BT_Kiva_AppNote = nullptr;
    QPushButton* BT_Kiva_Blank = nullptr;
    QPushButton* BT_Kiva_Write = nullptr;
    QPushButton* BT_Kiva_Verify = nullptr;
    gui::LogPane* RE_Kiva_State = nullptr;
    gui::Gauge* CG_Kiva_Progress = nullptr;

private:
    void openDocument(const std::string& path);
    void fieldsFromEdits() override;
    void editsFromFields() override;

    gui::TabEnvironment& env_;
    KivaFields fields_;
    QtDocumentOpener desktop_;
    DocumentOpener* documentOpener_ = nullptr;
    std::unique_ptr<KivaOperations> operations_;
};

}  // namespace sonoprog::kiva
