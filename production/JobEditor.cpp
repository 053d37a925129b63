#include "production/JobEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/AtomicFile.h"
#include "core/FileHandle.h"
#include "gui/QtServices.h"

namespace sonoprog::production {

namespace {

constexpr Target kTargets[] = {Target::Tarn20, Target::SerialFlash, Target::Kiva300};

template <typename T>
T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QWidget* withButton(QLineEdit* edit, QPushButton* button) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit, 1);
    layout->addWidget(button);
    return row;
}

// An empty field takes the default; anything else must be a whole number.
bool readNumber(QLineEdit* edit, const char* what, std::optional<std::uint32_t>& into,
                std::string& error) {
    const QString text = edit->text().trimmed();
    if (text.isEmpty()) {
        into.reset();
        return true;
    }
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok) {
        error = std::string(what) + ": " + gui::toLocal(text) + " is not a whole number";
        return false;
    }
    into = value;
    return true;
}

}  // namespace

JobEditor::JobEditor(core::FileChooser& files, std::filesystem::path setupIni,
                     const ivr::IvrKeys& keys, const std::vector<std::string>& devices,
                     QWidget* parent)
    : QDialog(parent), files_(files), setupIni_(std::move(setupIni)), keys_(keys) {
    setObjectName(QStringLiteral("DLG_Job"));
    setWindowTitle(QStringLiteral("Job"));
    ED_Job_File = named(new QLineEdit, "ED_Job_File");
    BT_Job_File = named(new QPushButton(QStringLiteral("Save As...")), "BT_Job_File");
    ED_Job_Name = named(new QLineEdit, "ED_Job_Name");
    ED_Job_Name->setPlaceholderText(QStringLiteral("the file's name"));
    CB_Job_Target = named(new QComboBox, "CB_Job_Target");
    for (const Target t : kTargets)
        CB_Job_Target->addItem(QString::fromLatin1(targetName(t).data()));
    ED_Job_Image = named(new QLineEdit, "ED_Job_Image");
    BT_Job_Image = named(new QPushButton(QStringLiteral("Browse...")), "BT_Job_Image");
    CB_Job_Device = named(new QComboBox, "CB_Job_Device");
    for (const auto& d : devices) CB_Job_Device->addItem(gui::fromLocal(d));
    CK_Job_Blank =
        named(new QCheckBox(QStringLiteral("Blank check before the write")), "CK_Job_Blank");
    ED_Job_StartPage = named(new QLineEdit, "ED_Job_StartPage");
    ED_Job_WritePages = named(new QLineEdit, "ED_Job_WritePages");
    ED_Job_InfoPage = named(new QLineEdit, "ED_Job_InfoPage");
    ED_Job_AllowError = named(new QLineEdit, "ED_Job_AllowError");
    ED_Job_StartPage->setPlaceholderText(QStringLiteral("0"));
    ED_Job_WritePages->setPlaceholderText(QStringLiteral("the image's pages"));
    ED_Job_InfoPage->setPlaceholderText(QStringLiteral("17"));
    ED_Job_AllowError->setPlaceholderText(QStringLiteral("3"));
    LB_Job_Result = named(new QLabel, "LB_Job_Result");
    LB_Job_Result->setWordWrap(true);
    LB_Job_Result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    BT_Job_Save = named(new QPushButton(QStringLiteral("Save")), "BT_Job_Save");

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Job file"), withButton(ED_Job_File, BT_Job_File));
    form->addRow(QStringLiteral("Name"), ED_Job_Name);
    form->addRow(QStringLiteral("Target"), CB_Job_Target);
    form->addRow(QStringLiteral("Image"), withButton(ED_Job_Image, BT_Job_Image));
    form->addRow(QStringLiteral("Device"), CB_Job_Device);
    form->addRow(QString(), CK_Job_Blank);
    form->addRow(QStringLiteral("Start Page"), ED_Job_StartPage);
    form->addRow(QStringLiteral("Write Page"), ED_Job_WritePages);
    form->addRow(QStringLiteral("Info Page"), ED_Job_InfoPage);
    form->addRow(QStringLiteral("Allow Error"), ED_Job_AllowError);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(BT_Job_Save, QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(LB_Job_Result);
    column->addWidget(buttons);
    setMinimumWidth(520);

    connect(CB_Job_Target, &QComboBox::currentIndexChanged, this, [this] { targetChanged(); });
    connect(BT_Job_File, &QPushButton::clicked, this, [this] {
        if (auto path = files_.chooseSaveFile({"Job file|*.json", "json"}))
            ED_Job_File->setText(gui::fromLocal(*path));
    });
    connect(BT_Job_Image, &QPushButton::clicked, this, [this] {
        const bool kiva = kTargets[CB_Job_Target->currentIndex()] == Target::Kiva300;
        const core::FileDialogRequest request =
            kiva ? core::FileDialogRequest{"DAT file|*.dat", "dat"}
                 : core::FileDialogRequest{"BIN file|*.bin", "bin"};
        if (auto path = files_.chooseOpenFile(request))
            ED_Job_Image->setText(gui::fromLocal(*path));
    });
    connect(BT_Job_Save, &QPushButton::clicked, this, [this] { save(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    targetChanged();
}

void JobEditor::targetChanged() {
    const Target target = kTargets[std::max(0, CB_Job_Target->currentIndex())];
    CB_Job_Device->setEnabled(target == Target::SerialFlash);
    CK_Job_Blank->setEnabled(target != Target::Tarn20);
    for (auto* edit : {ED_Job_StartPage, ED_Job_WritePages, ED_Job_InfoPage, ED_Job_AllowError})
        edit->setEnabled(target == Target::Tarn20);
}

void JobEditor::showResult(const QString& text, bool error) {
    LB_Job_Result->setText(text);
    LB_Job_Result->setStyleSheet(error ? QStringLiteral("QLabel { color: #c00000; }") : QString());
}

bool JobEditor::edit(const std::filesystem::path& jobFile) {
    std::string error;
    const auto loaded = loadJob(jobFile, error);
    if (!loaded) {
        showResult(gui::fromLocal(error), true);
        return false;
    }
    const Job& job = loaded->job;
    ED_Job_File->setText(gui::fromLocal(jobFile.string()));
    ED_Job_Name->setText(gui::fromLocal(job.name));
    for (int i = 0; i < CB_Job_Target->count(); ++i)
        if (kTargets[i] == job.target) CB_Job_Target->setCurrentIndex(i);
    ED_Job_Image->setText(gui::fromLocal(imagePath(job, jobFile).string()));
    if (!job.device.empty()) {
        if (CB_Job_Device->findText(gui::fromLocal(job.device)) < 0)
            CB_Job_Device->addItem(gui::fromLocal(job.device));
        CB_Job_Device->setCurrentText(gui::fromLocal(job.device));
    }
    CK_Job_Blank->setChecked(job.blankCheck);
    if (job.target == Target::Tarn20) {
        ED_Job_StartPage->setText(QString::number(job.startPage));
        ED_Job_WritePages->setText(QString::number(job.writePages));
        ED_Job_InfoPage->setText(QString::number(job.infoPage));
        ED_Job_AllowError->setText(QString::number(job.allowError));
    }
    showResult(QStringLiteral("SHA-256 %1").arg(QString::fromStdString(loaded->fileSha256)), false);
    return true;
}

std::optional<std::string> JobEditor::save() {
    std::string error;
    auto fail = [&](std::string why) -> std::optional<std::string> {
        showResult(gui::fromLocal(why), true);
        return why;
    };
    const std::filesystem::path jobFile = gui::toLocal(ED_Job_File->text().trimmed());
    if (jobFile.empty()) return fail("Choose where the job file goes.");
    JobRequest request;
    request.name = gui::toLocal(ED_Job_Name->text().trimmed());
    request.target = kTargets[std::max(0, CB_Job_Target->currentIndex())];
    request.image = gui::toLocal(ED_Job_Image->text().trimmed());
    if (request.image.empty()) return fail("Choose the job's image.");
    if (request.target == Target::SerialFlash)
        request.device = gui::toLocal(CB_Job_Device->currentText());
    request.blankCheck = request.target != Target::Tarn20 && CK_Job_Blank->isChecked();
    if (request.target == Target::Tarn20 &&
        (!readNumber(ED_Job_StartPage, "Start Page", request.startPage, error) ||
         !readNumber(ED_Job_WritePages, "Write Page", request.writePages, error) ||
         !readNumber(ED_Job_InfoPage, "Info Page", request.infoPage, error) ||
         !readNumber(ED_Job_AllowError, "Allow Error", request.allowError, error)))
        return fail(error);
    JobError kind;
    const auto job = buildJob(request, jobFile, setupIni_, keys_, kind, error);
    if (!job) return fail(error);
    if (!core::isReplaceableTarget(jobFile))
        return fail(jobFile.string() + ": not a regular file; not replaced");
    core::AtomicFile out(jobFile);
    if (!out.open() || !out.write(jobToJson(*job)) || !out.commit())
        return fail(jobFile.string() + ": cannot be written");
    auto loaded = loadJob(jobFile, error);
    if (!loaded) return fail(error);
    saved_ = std::move(loaded);
    showResult(QStringLiteral("Saved. Image SHA-256 %1\nJob file SHA-256 %2")
                   .arg(QString::fromStdString(saved_->job.imageSha256),
                        QString::fromStdString(saved_->fileSha256)),
               false);
    return std::nullopt;
}

}  // namespace sonoprog::production
