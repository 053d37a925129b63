#include "cli/CliServices.h"
#include "core/FileChooser.h"

#include <string>

namespace sonoprog::cli {

void StderrPrompter::showMessage(std::string_view caption, std::string_view text,
                                 core::BoxIcon icon) {
    if (beforePrint) beforePrint();
    if (icon == core::BoxIcon::Error) {
        ++errorBoxes_;
        if (beforeError) beforeError();
    }
    std::string line = std::string(caption) + ": " + std::string(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), err_);
    std::fflush(err_);
}

bool StderrPrompter::askYesNo(std::string_view caption, std::string_view text, core::BoxIcon) {
    if (beforePrint) beforePrint();
    std::string line = std::string(caption) + ": " + std::string(text) +
                       (yes_ ? " -> Yes\n" : " -> No (--yes answers Yes)\n");
    std::fwrite(line.data(), 1, line.size(), err_);
    std::fflush(err_);
    if (!yes_) ++refusals_;
    return yes_;
}

std::optional<std::string> ArgumentFileChooser::chooseOpenFile(const core::FileDialogRequest&) {
    if (openFiles.empty()) return std::nullopt;
    std::string path = openFiles.front();
    openFiles.pop_front();
    return path;
}

std::vector<std::string> ArgumentFileChooser::chooseOpenFiles(const core::FileDialogRequest&) {
    std::vector<std::string> all(openFiles.begin(), openFiles.end());
    openFiles.clear();
    return all;
}

std::optional<std::string> ArgumentFileChooser::chooseSaveFile(const core::FileDialogRequest&) {
    if (saveFiles.empty()) return std::nullopt;
    std::string path = saveFiles.front();
    saveFiles.pop_front();
    return path;
}

}  // namespace sonoprog::cli
