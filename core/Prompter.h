#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonoprog::core {

enum class BoxIcon { Error, Warning, Information };

// Modal message boxes and yes/no questions.
class Prompter {
public:
    virtual ~Prompter() = default;
    // One OK button.
    virtual void showMessage(std::string_view caption, std::string_view text, BoxIcon icon) = 0;
    // Yes and No; true for Yes.
    virtual bool askYesNo(std::string_view caption, std::string_view text, BoxIcon icon) = 0;
};

// What an operation sets on the shared file dialog before showing it.
struct FileDialogRequest {
    std::string filter;            // "BIN file|*.bin"
    std::string defaultExtension;  // "bin", may be empty
};

// The shared open and save dialogs. nullopt / empty = the operator cancelled.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    virtual std::optional<std::string> chooseOpenFile(const FileDialogRequest& request) = 0;
    virtual std::vector<std::string> chooseOpenFiles(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> chooseSaveFile(const FileDialogRequest& request) = 0;
};

}  // namespace sonoprog::core
