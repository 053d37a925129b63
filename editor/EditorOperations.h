#pragma once

#include <cstdint>
#include <string>

#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/FileChooser.h"
#include "core/OperationPane.h"
#include "core/Prompter.h"
#include "core/YieldHook.h"
#include "editor/EditorPanel.h"
#include "editor/SectionTable.h"

namespace sonoprog::editor {

enum class AddResult { Cancelled, Placed, Failed };
enum class ProjectResult { Cancelled, Refused, Failed, Done };
enum class BuildResult { Cancelled, Refused, TempFileFailed, SectionsFailed, ImageFailed, Done };

// Status texts the build leaves in a section's last column.
std::string buildStatusText(int code);

struct Summary {
    std::uint64_t usage = 0;    // bytes of the image the table builds into
    std::uint32_t highest = 0;  // highest rate, 0 when no section is used
    int lastSection = -1;       // -1 when no section is used
};
// 17,408 for the information pages plus whole pages for every used section.
Summary computeSummary(const SectionTable& table);

// The header page's first four bytes for a "Last Section No." value.
void headerWords(std::int32_t lastSection, std::uint8_t out[4]);

// The Sound Editor's commands over the section table. The window calls them
// from its handlers, the command line directly; dialogs come through the file
// chooser, questions and boxes through the prompter.
class EditorOperations {
public:
    EditorOperations(SectionTable& table, EditorPanel& panel, core::Prompter& prompter,
                     core::FileChooser& files, core::YieldHook& yield, core::Clock& clock,
                     const core::AppPaths& paths);

    AddResult addReplace();  // Add / Replace
    void removeSection();    // Remove
    void moveUp();           // Up
    void moveDown();         // Down
    bool clearAll();         // Clear All; false when answered No
    // Row selection: the hint line and the row buttons follow the new row.
    void selectRow(int row);

    ProjectResult saveProject();
    ProjectResult loadProject();
    BuildResult makeDatFile();

    void RefreshSummary();
    void LockEditorTab();
    void UnlockEditorTab();

    // The page file of the build.
    std::filesystem::path pageFilePath() const { return paths_.tempDir / "temp.bin"; }

private:
    bool confirmReplace(const std::string& path);
    void setRowButtons(int row);

    SectionTable& table_;
    EditorPanel& panel_;
    core::Prompter& prompter_;
    core::FileChooser& files_;
    core::YieldHook& yield_;
    core::Clock& clock_;
    const core::AppPaths& paths_;
};

}  // namespace sonoprog::editor
