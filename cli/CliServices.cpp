#include "cli/CliServices.h"
#include "core/FileChooser.h"

#include <string>

#include "cli/TerminalPane.h"

namespace sonoprog::cli {

void StderrPrompter::showMessage(std::string_view caption, std::string_view text,
                                 core::BoxIcon icon) {
    if (beforePrint) beforePrint();
    if (icon == core::BoxIcon::Error) {
        ++errorBoxes_;
        if (beforeError) beforeError();
    }
    if (json_)
        print("{\"kind\":\"box\",\"caption\":" + jsonString(caption) +
              ",\"text\":" + jsonString(text) + "}");
    else
        print(visibleText(std::string(caption) + ": " + std::string(text)));
}

void StderrPrompter::print(const std::string& line) {
    const std::string whole = line + "\n";
    std::fwrite(whole.data(), 1, whole.size(), err_);
    std::fflush(err_);
}

bool StderrPrompter::askYesNo(std::string_view caption, std::string_view text, core::BoxIcon) {
    if (beforePrint) beforePrint();
    if (json_)
        print("{\"kind\":\"question\",\"caption\":" + jsonString(caption) +
              ",\"text\":" + jsonString(text) + ",\"answer\":\"" + (yes_ ? "Yes" : "No") + "\"}");
    else
        print(visibleText(std::string(caption) + ": " + std::string(text)) +
              (yes_ ? " -> Yes" : " -> No (--yes answers Yes)"));
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
