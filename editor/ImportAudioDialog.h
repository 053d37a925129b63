#pragma once

#include <QDialog>
#include <optional>

#include "editor/AudioImport.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;

namespace sonoprog::editor {

// Import Audio's small dialog: the rate, mono mix, normalising, trimming and
// the folder of the converted files.
class ImportAudioDialog final : public QDialog {
    Q_OBJECT
public:
    ImportAudioDialog(const ImportOffer& offer, QWidget* parent = nullptr);

    // What the controls say now; nullopt while no folder is named.
    std::optional<ImportSettings> settings() const;

private:
    void updateOk();

    QComboBox* rate_ = nullptr;
    QCheckBox* mix_ = nullptr;
    QCheckBox* normalize_ = nullptr;
    QCheckBox* trim_ = nullptr;
    QDoubleSpinBox* trimDb_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QPushButton* ok_ = nullptr;
};

// The page's ImportDialog: shows ImportAudioDialog modally.
class QtImportDialog final : public ImportDialog {
public:
    explicit QtImportDialog(QWidget* parent) : parent_(parent) {}
    std::optional<ImportSettings> askImportSettings(const ImportOffer& offer) override;

private:
    QWidget* parent_;
};

}  // namespace sonoprog::editor
