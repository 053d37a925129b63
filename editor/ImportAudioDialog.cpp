#include "editor/ImportAudioDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "gui/QtServices.h"

namespace sonoprog::editor {

namespace {
constexpr double kDefaultTrimDb = -50.0;
}

ImportAudioDialog::ImportAudioDialog(const ImportOffer& offer, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DLG_Edit_Import"));
    setWindowTitle(QStringLiteral("Import Audio"));
    auto* form = new QFormLayout(this);

    rate_ = new QComboBox(this);
    rate_->setObjectName(QStringLiteral("CB_Import_Rate"));
    for (std::uint32_t r : offer.rates) {
        rate_->addItem(QString::number(r), QVariant::fromValue<uint>(r));
        if (r == offer.defaultRate) rate_->setCurrentIndex(rate_->count() - 1);
    }
    form->addRow(QStringLiteral("Sample rate (Hz)"), rate_);

    mix_ = new QCheckBox(QStringLiteral("Mix all channels to mono (off: the first channel)"), this);
    mix_->setObjectName(QStringLiteral("CK_Import_Mix"));
    form->addRow(mix_);
    normalize_ = new QCheckBox(QStringLiteral("Normalise the peak to -1 dBFS"), this);
    normalize_->setObjectName(QStringLiteral("CK_Import_Normalize"));
    normalize_->setChecked(true);
    form->addRow(normalize_);

    auto* trimRow = new QHBoxLayout;
    trim_ = new QCheckBox(QStringLiteral("Trim leading and trailing silence below"), this);
    trim_->setObjectName(QStringLiteral("CK_Import_Trim"));
    trimDb_ = new QDoubleSpinBox(this);
    trimDb_->setObjectName(QStringLiteral("ED_Import_TrimDb"));
    trimDb_->setRange(-120.0, 0.0);
    trimDb_->setDecimals(1);
    trimDb_->setSuffix(QStringLiteral(" dB"));
    trimDb_->setValue(kDefaultTrimDb);
    trimDb_->setEnabled(false);
    trimRow->addWidget(trim_);
    trimRow->addWidget(trimDb_);
    form->addRow(trimRow);
    connect(trim_, &QCheckBox::toggled, trimDb_, &QWidget::setEnabled);

    auto* folderRow = new QHBoxLayout;
    folder_ = new QLineEdit(gui::fromLocal(offer.outDir), this);
    folder_->setObjectName(QStringLiteral("ED_Import_Folder"));
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    folderRow->addWidget(folder_);
    folderRow->addWidget(browse);
    form->addRow(QStringLiteral("Converted files go to"), folderRow);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString dir = QFileDialog::getExistingDirectory(this, QString(), folder_->text());
        if (!dir.isEmpty()) folder_->setText(dir);
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(folder_, &QLineEdit::textChanged, this, [this] { updateOk(); });
    updateOk();
}

void ImportAudioDialog::updateOk() {
    // A project never saved has no folder of its own: one must be named.
    ok_->setEnabled(!folder_->text().trimmed().isEmpty() && rate_->count() > 0);
}

std::optional<ImportSettings> ImportAudioDialog::settings() const {
    if (folder_->text().trimmed().isEmpty() || rate_->count() == 0) return std::nullopt;
    ImportSettings s;
    s.rate = rate_->currentData().toUInt();
    s.mixChannels = mix_->isChecked();
    s.normalize = normalize_->isChecked();
    if (trim_->isChecked()) s.trimDb = trimDb_->value();
    s.outDir = gui::toLocal(folder_->text().trimmed());
    return s;
}

std::optional<ImportSettings> QtImportDialog::askImportSettings(const ImportOffer& offer) {
    ImportAudioDialog dialog(offer, parent_);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.settings();
}

}  // namespace sonoprog::editor
