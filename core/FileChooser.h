#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sonoprog::core {

// What a front end sets on the shared file dialog before showing it.
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

// How Load File gets its path: asked in the middle of the operation (after
// the heading and "  -> Open BIN file...", while the tab is locked), as the
// window's dialog does. nullopt means the operator cancelled.
using ImageChoice = std::function<std::optional<std::string>()>;

// The shared open dialog as that choice.
inline ImageChoice openDialogChoice(FileChooser& files, FileDialogRequest request) {
    return [&files, request = std::move(request)] { return files.chooseOpenFile(request); };
}

}  // namespace sonoprog::core
