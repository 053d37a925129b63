#pragma once

#include <QDialog>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/FileChooser.h"
#include "ivr/IvrKeys.h"
#include "production/Job.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace sonoprog::production {

// The engineer's dialog for making a job or changing one: the job file, its
// name, the target, the image, the serial flash device or the Tarn20's
// fields, and the blank check. Save builds the job as `job new` does (the
// image's SHA-256 and check sum read from the image) and writes the file
// whole; the dialog then shows the file's own SHA-256.
class JobEditor final : public QDialog {
    Q_OBJECT
public:
    // `devices`: the serial flash devices of Setup.ini; `setupIni` lists them
    // for the job's check too.
    JobEditor(core::FileChooser& files, std::filesystem::path setupIni, const ivr::IvrKeys& keys,
              const std::vector<std::string>& devices, QWidget* parent = nullptr);

    // Fills the fields from a job file (false, with the reason shown, when it cannot be read).
    bool edit(const std::filesystem::path& jobFile);
    // Builds and writes the job; the reason why not otherwise (also shown in the dialog).
    std::optional<std::string> save();
    // The file written by the last successful save.
    const std::optional<LoadedJob>& saved() const { return saved_; }

    QLineEdit* ED_Job_File = nullptr;
    QPushButton* BT_Job_File = nullptr;
    QLineEdit* ED_Job_Name = nullptr;
    QComboBox* CB_Job_Target = nullptr;
    QLineEdit* ED_Job_Image = nullptr;
    QPushButton* BT_Job_Image = nullptr;
    QComboBox* CB_Job_Device = nullptr;
    QCheckBox* CK_Job_Blank = nullptr;
    QLineEdit* ED_Job_StartPage = nullptr;
    QLineEdit* ED_Job_WritePages = nullptr;
    QLineEdit* ED_Job_InfoPage = nullptr;
    QLineEdit* ED_Job_AllowError = nullptr;
    QLabel* LB_Job_Result = nullptr;
    QPushButton* BT_Job_Save = nullptr;

private:
    void targetChanged();
    void showResult(const QString& text, bool error);

    core::FileChooser& files_;
    std::filesystem::path setupIni_;
    const ivr::IvrKeys& keys_;
    std::optional<LoadedJob> saved_;
};

}  // namespace sonoprog::production
