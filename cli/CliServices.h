#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/FileChooser.h"
#include "core/OperationPane.h"
#include "core/Prompter.h"
#include "core/TabLock.h"

namespace sonoprog::cli {

// Message boxes on standard error as "CAPTION: text". Questions are answered
// Yes with --yes and No otherwise, and the answer is printed after the text.
class StderrPrompter final : public core::Prompter {
public:
    StderrPrompter(std::FILE* err, bool yes) : err_(err), yes_(yes) {}

    void showMessage(std::string_view caption, std::string_view text, core::BoxIcon icon) override;
    bool askYesNo(std::string_view caption, std::string_view text, core::BoxIcon icon) override;

    int errorBoxes() const { return errorBoxes_; }
    int refusals() const { return refusals_; }

    // Runs before anything is printed (the progress bar makes room).
    std::function<void()> beforePrint;
    // Runs before an error box is printed (a command adds its details first).
    std::function<void()> beforeError;

private:
    std::FILE* err_;
    bool yes_;
    int errorBoxes_ = 0;
    int refusals_ = 0;
};

// The file dialogs answered with the paths of the command line, in the order
// the operations ask for them. An empty queue answers Cancel.
class ArgumentFileChooser final : public core::FileChooser {
public:
    std::optional<std::string> chooseOpenFile(const core::FileDialogRequest& request) override;
    std::vector<std::string> chooseOpenFiles(const core::FileDialogRequest& request) override;
    std::optional<std::string> chooseSaveFile(const core::FileDialogRequest& request) override;

    std::deque<std::string> openFiles;
    std::deque<std::string> saveFiles;
};

// Nothing to disable on a terminal.
class NoLock final : public core::TabLock {
public:
    void lock() override {}
    void unlock() override {}
};

}  // namespace sonoprog::cli
