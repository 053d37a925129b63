#pragma once

#include <QWidget>
#include <map>

#include "editor/EditorOperations.h"
#include "editor/EditorPanel.h"
#include "editor/SectionTable.h"
#include "gui/QtServices.h"

class QAction;
class QActionGroup;
class QFrame;
class QLineEdit;
class QPushButton;
class QTableView;

namespace sonoprog::editor {

class SoundTableModel;

// The "Sound Editor" page (PAGE_Sound_Editor): the section table, its
// commands and the quick keys. The commands themselves are EditorOperations;
// this page only shows the table and the fields and forwards the handlers.
class EditorPage final : public QWidget, public EditorPanel {
    Q_OBJECT
public:
    explicit EditorPage(gui::TabEnvironment& env, QWidget* parent = nullptr);
    ~EditorPage() override;

    // Start-up's fill of SG_SoundTable: widths, headings, section labels,
    // empty cells; the current row becomes row 1.
    void prepareTable();

    void BT_Edit_SecAddClick();
    void BT_Edit_SecRMovClick();
    void BT_Edit_SecUpClick();
    void BT_Edit_SecDnClick();
    void BT_Edit_SecClrClick();
    void BT_Edit_ScpSaveClick();
    void BT_Edit_ScpLoadClick();
    void BT_Edit_ScpBuildClick();
    void SG_SoundTableDblClick();
    void SG_SoundTableSelectCell(int row);

    SectionTable& table() { return table_; }
    EditorOperations& operations() { return ops_; }

    // EditorPanel
    void setHint(std::string_view text) override;
    void setControlEnabled(EditorControl control, bool enabled) override;
    bool controlEnabled(EditorControl control) const override;
    void setSummary(SummaryField field, std::string_view text) override;
    std::string summary(SummaryField field) const override;
    void repaintTable() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPushButton* makeButton(QWidget* panel, const char* name, const char* caption, int top);
    QLineEdit* makeField(QWidget* panel, const char* name, const char* label, int top);
    void makeQuickKeys();
    void runQuickKey(EditorControl control, void (EditorPage::*handler)());
    bool pageActive() const;
    QWidget* controlWidget(EditorControl control) const;
    QLineEdit* summaryWidget(SummaryField field) const;
    void showCurrentRow(int row);

    gui::TabEnvironment& env_;
    SectionTable table_;
    EditorOperations ops_;

    QFrame* PN_Edit_1 = nullptr;
    QFrame* PN_Edit_2 = nullptr;
    QFrame* PN_Edit_3 = nullptr;
    QPushButton* BT_Edit_ScpSave = nullptr;
    QPushButton* BT_Edit_ScpLoad = nullptr;
    QPushButton* BT_Edit_ScpBuild = nullptr;
    QPushButton* BT_Edit_SecAdd = nullptr;
    QPushButton* BT_Edit_SecRMov = nullptr;
    QPushButton* BT_Edit_SecUp = nullptr;
    QPushButton* BT_Edit_SecDn = nullptr;
    QPushButton* BT_Edit_SecClr = nullptr;
    QLineEdit* ED_Edit_MemUsg = nullptr;
    QLineEdit* ED_Edit_HstRate = nullptr;
    QLineEdit* ED_Edit_LstSec = nullptr;
    QLineEdit* ED_Edit_Hint = nullptr;
    QTableView* SG_SoundTable = nullptr;
    SoundTableModel* model_ = nullptr;
    QActionGroup* AC_QuickKey = nullptr;

    std::map<QObject*, QString> hints_;
    bool syncingRow_ = false;
};

}  // namespace sonoprog::editor
