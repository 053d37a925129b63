#include "gui/QtServices.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>

#include "core/FileChooser.h"
#include "core/NumberText.h"

namespace sonoprog::gui {

QString fromLocal(std::string_view text) {
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

std::string toLocal(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

int execMessageBox(QMessageBox& box) {
    if (const char* env = std::getenv("SONOPROG_BOX_TIMEOUT_MS")) {
        if (auto ms = core::parseOptionNumber(env); ms && *ms <= 600000)
            QTimer::singleShot(static_cast<int>(*ms), &box, &QMessageBox::accept);
    }
    return box.exec();
}

namespace {
QMessageBox::Icon qtIcon(core::BoxIcon icon) {
    switch (icon) {
        case core::BoxIcon::Error:
            return QMessageBox::Critical;
        case core::BoxIcon::Warning:
            return QMessageBox::Warning;
        case core::BoxIcon::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

void QtPrompter::showMessage(std::string_view caption, std::string_view text, core::BoxIcon icon) {
    QMessageBox box(qtIcon(icon), fromLocal(caption), fromLocal(text), QMessageBox::Ok, parent_);
    execMessageBox(box);
}

bool QtPrompter::askYesNo(std::string_view caption, std::string_view text, core::BoxIcon icon) {
    QMessageBox box(qtIcon(icon), fromLocal(caption), fromLocal(text),
                    QMessageBox::Yes | QMessageBox::No, parent_);
    return box.exec() == QMessageBox::Yes;
}

QString QtFileChooser::qtFilter(const std::string& filter) {
    // "Name|pattern|Name|pattern" -> "Name (pattern);;Name (pattern)"
    const QStringList parts = fromLocal(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(';', ' '));
    return out.join(QStringLiteral(";;"));
}

std::optional<std::string> QtFileChooser::chooseOpenFile(const core::FileDialogRequest& request) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(qtFilter(request.filter));
    dialog.setDefaultSuffix(fromLocal(request.defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return toLocal(dialog.selectedFiles().front());
}

std::vector<std::string> QtFileChooser::chooseOpenFiles(const core::FileDialogRequest& request) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(qtFilter(request.filter));
    std::vector<std::string> out;
    if (dialog.exec() != QDialog::Accepted) return out;
    for (const QString& f : dialog.selectedFiles()) out.push_back(toLocal(f));
    return out;
}

std::optional<std::string> QtFileChooser::chooseSaveFile(const core::FileDialogRequest& request) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The operation asks its own replace question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilter(qtFilter(request.filter));
    dialog.setDefaultSuffix(fromLocal(request.defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return toLocal(dialog.selectedFiles().front());
}

void QtYield::yield() {
    QCoreApplication::processEvents();
}

}  // namespace sonoprog::gui
