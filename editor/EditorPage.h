#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <memory>

#include "core/StopCheck.h"
#include "editor/ChipFit.h"
#include "editor/EditorOperations.h"
#include "editor/EditorPanel.h"
#include "editor/SectionTable.h"
#include "gui/QtServices.h"

class QAction;
class QActionGroup;
class QAudioSink;
class QBuffer;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace sonoprog::editor {

class SoundTableModel;
class WaveformStrip;
class QtImportDialog;

// Play's hints: what it does, and why it cannot.
inline constexpr const char* kPlayHint =
    "Click this button or press Space on the table to play or stop the section.";
inline constexpr const char* kNoAudioHint = "No audio output device: Play is not available.";
inline constexpr const char* kImportButtonHint =
    "Click this button or \"CTL + I\" to import and convert audio files.";

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
    // Import Audio, and Play / Stop of the selected section.
    void BT_Edit_SecImportClick();
    void BT_Edit_PlayClick();

    // Whether an audio output is there; follows the system's device list.
    void setAudioOutputAvailable(bool available);
    bool audioOutputAvailable() const { return audioOutput_; }
    bool isPlaying() const { return sink_ != nullptr; }
    void stopPlaying();

    // The chip the image is meant for (the device selector's choice); no
    // chip for a capacity of 0.
    void setChipCapacity(const std::string& chip, std::uint64_t bytes);
    ChipFit chipFit() const;
    WaveformStrip* waveform() const { return PB_Edit_Wave; }

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
    void updatePlayButton();
    void refreshChipFit();
    void showSelectedWave();
    // Make DAT File and Import Audio: Stop on the button that started them,
    // the figures on the chip's line, both gone when the work ends.
    void runLongWork(QPushButton* startedBy, const std::function<void()>& work);

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
    QPushButton* BT_Edit_SecImport = nullptr;
    QPushButton* BT_Edit_Play = nullptr;
    QPushButton* BT_Edit_Stop = nullptr;  // shown while long work runs
    QLabel* LB_Edit_ChipFit = nullptr;
    WaveformStrip* PB_Edit_Wave = nullptr;
    QAction* ACT_Import = nullptr;
    QTableView* SG_SoundTable = nullptr;
    SoundTableModel* model_ = nullptr;
    QActionGroup* AC_QuickKey = nullptr;

    core::StopFlag stop_;
    std::map<QObject*, QString> hints_;
    bool syncingRow_ = false;

    std::unique_ptr<QtImportDialog> importDialog_;
    bool audioOutput_ = false;
    QAudioSink* sink_ = nullptr;
    QBuffer* playing_ = nullptr;
    std::string chip_;
    std::uint64_t chipBytes_ = 0;
};

}  // namespace sonoprog::editor
