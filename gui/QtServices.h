#pragma once

#include <QString>

#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/FileChooser.h"
#include "core/OperationPane.h"
#include "core/Prompter.h"
#include "core/WriterLink.h"
#include "core/YieldHook.h"
#include "ivr/IvrKeys.h"

class QComboBox;
class QMessageBox;
class QTabWidget;
class QWidget;

namespace sonoprog::gui {

QString fromLocal(std::string_view text);
std::string toLocal(const QString& text);

// Runs a modal box. With SONOPROG_BOX_TIMEOUT_MS set in the environment the
// box closes itself after that many milliseconds (unattended runs and tests
// of the built program); a question is never answered that way.
int execMessageBox(QMessageBox& box);

// Modal boxes owned by the application.
class QtPrompter final : public core::Prompter {
public:
    explicit QtPrompter(QWidget* parent = nullptr) : parent_(parent) {}
    void showMessage(std::string_view caption, std::string_view text, core::BoxIcon icon) override;
    bool askYesNo(std::string_view caption, std::string_view text, core::BoxIcon icon) override;

private:
    QWidget* parent_;
};

// The shared file dialogs (OD_OpenFile, SD_SaveFile). The filter comes as
// "BIN file|*.bin" and is shown as "BIN file (*.bin)".
class QtFileChooser final : public core::FileChooser {
public:
    explicit QtFileChooser(QWidget* parent = nullptr) : parent_(parent) {}
    std::optional<std::string> chooseOpenFile(const core::FileDialogRequest& request) override;
    std::vector<std::string> chooseOpenFiles(const core::FileDialogRequest& request) override;
    std::optional<std::string> chooseSaveFile(const core::FileDialogRequest& request) override;

    static QString qtFilter(const std::string& filter);

private:
    QWidget* parent_;
};

// Lets the window process its pending messages.
class QtYield final : public core::YieldHook {
public:
    void yield() override;
};

// What a tab page gets from the main window: the shared controls that its
// lock switches, and the services its operations report through.
struct TabEnvironment {
    QComboBox* deviceSel = nullptr;  // CB_DeviceSel
    QTabWidget* pcMain = nullptr;    // PC_Main
    core::Prompter& prompter;
    core::FileChooser& files;
    core::YieldHook& yield;
    core::Clock& clock;
    core::WriterLink& link;
    const core::AppPaths& paths;
    // The DAT files' key table, loaded by the window at start-up.
    ivr::IvrKeys ivrKeys{};
};

}  // namespace sonoprog::gui
