#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/FileChooser.h"
#include "core/OperationPane.h"
#include "core/Progress.h"
#include "core/Prompter.h"
#include "core/StopCheck.h"
#include "core/YieldHook.h"
#include "editor/AudioImport.h"
#include "editor/ChipFit.h"
#include "editor/EditorPanel.h"
#include "editor/ImageBuild.h"
#include "editor/SectionTable.h"

namespace sonoprog::editor {

// Stopped: the operator's Stop (or Ctrl+C) ended the work between two files
// or two sections.
enum class AddResult { Cancelled, Placed, Failed, Stopped };
enum class ProjectResult { Cancelled, Refused, Failed, Done };
enum class BuildResult {
    Cancelled,
    Refused,
    TempFileFailed,
    SectionsFailed,
    ImageFailed,
    Done,
    Stopped
};

// Status texts the build leaves in a section's last column.
std::string buildStatusText(int code);

struct Summary {
    std::uint64_t usage = 0;    // bytes of the image the table builds into
    std::uint32_t highest = 0;  // highest rate, 0 when no section is used
    int lastSection = -1;       // -1 when no section is used
};
// 17,408 for the information pages plus whole pages for every used section.
Summary computeSummary(const SectionTable& table);

// The image's size: the information pages and every used section on whole pages.
std::uint64_t imageSize(const SectionTable& table);

// One used section as a listing shows it, with what the next build would say
// of it (empty when it would pass).
struct SectionReport {
    int section = 0;
    std::string rate;
    std::string size;
    std::uint32_t pages = 0;
    std::string file;
    std::string problem;
};
std::vector<SectionReport> sectionReports(const SectionTable& table);

// What Refresh found in one used section.
struct RefreshChange {
    int section = 0;
    std::string oldRate, oldSize;
    std::string newRate, newSize;  // empty when the file failed its check
    std::string problem;           // the build's status text when it failed
};

// The Sound Editor's commands over the section table. The window calls them
// from its handlers, the command line directly; dialogs come through the file
// chooser, questions and boxes through the prompter.
class EditorOperations {
public:
    EditorOperations(SectionTable& table, EditorPanel& panel, core::Prompter& prompter,
                     core::FileChooser& files, core::YieldHook& yield, core::Clock& clock,
                     const core::AppPaths& paths);

    AddResult addReplace();  // Add / Replace
    // Import Audio: the files and the settings from their dialogs, then
    // importFiles.
    AddResult importAudio();
    // Converts each file and places it the way Add / Replace places a file,
    // from the current row on; stops at the first file that cannot be
    // converted, with the files before it placed.
    AddResult importFiles(const std::vector<std::string>& files, const ImportSettings& settings);
    ImportOffer importOffer() const;
    void setImportDialog(ImportDialog* dialog) { importDialog_ = dialog; }
    // The largest chip this installation programs (the Tarn20's user area
    // unless a larger serial flash device is configured): a converted sound
    // that would not fit it is refused before it is written.
    void setLargestChip(std::uint64_t bytes) { largestChip_ = bytes; }
    std::uint64_t largestChip() const { return largestChip_; }
    // The files the last Add / Replace or Import Audio left out: those after
    // a file it refused, or those with no section left after section 1023.
    const std::vector<std::string>& leftOut() const { return leftOut_; }
    // Where Make DAT File (sections) and Import Audio (files) show how far
    // they are, and what stops them between two sections or two files.
    void setLongWork(core::ProgressReporter::Sink figures, core::StopCheck* stop) {
        figures_ = std::move(figures);
        stop_ = stop;
    }

    // Reads every used section's WAV header again and takes its rate and size
    // into the table, so that a sound recorded anew passes the next build.
    // Sections whose file fails the check keep their cells.
    std::vector<RefreshChange> refreshSections();
    void removeSection();  // Remove
    void moveUp();         // Up
    void moveDown();       // Down
    bool clearAll();       // Clear All; false when answered No
    // Row selection: the hint line and the row buttons follow the new row.
    void selectRow(int row);

    ProjectResult saveProject();
    ProjectResult loadProject();
    // The two without their dialogs and the replace question.
    ProjectResult saveProjectTo(const std::string& path);
    ProjectResult loadProjectFrom(const std::string& path);
    // Make DAT File: the image of the table's sections (editor/ImageBuild.cpp).
    BuildResult makeDatFile();

    void RefreshSummary();
    void LockEditorTab();
    void UnlockEditorTab();

private:
    // The boxes' captions.
    static constexpr const char* kError = "ERROR";
    static constexpr const char* kWarning = "WARNING";
    static constexpr const char* kInfo = "INFO";

    // Save, Load and Build run locked and end unlocked on every path.
    class LockedRun {
    public:
        explicit LockedRun(EditorOperations& ops) : ops_(ops) { ops_.LockEditorTab(); }
        ~LockedRun() { ops_.UnlockEditorTab(); }
        LockedRun(const LockedRun&) = delete;
        LockedRun& operator=(const LockedRun&) = delete;

    private:
        EditorOperations& ops_;
    };

    bool confirmReplace(const std::string& path);
    void setRowButtons(int row);
    void refuseUnsafePath(const std::string& path);
    // Add / Replace's placement: `prepare` gives the WAV to place for each
    // chosen file, or nullopt after its own message to stop there.
    AddResult placeFiles(
        const std::vector<std::string>& chosen,
        const std::function<std::optional<std::string>(const std::string&)>& prepare);

    SectionTable& table_;
    EditorPanel& panel_;
    core::Prompter& prompter_;
    core::FileChooser& files_;
    core::YieldHook& yield_;
    core::Clock& clock_;
    const core::AppPaths& paths_;
    ImportDialog* importDialog_ = nullptr;
    std::string projectPath_;
    std::uint64_t largestChip_;
    std::vector<std::string> leftOut_;
    core::ProgressReporter::Sink figures_ = [](const core::ProgressFigures&) {};
    core::StopCheck* stop_ = nullptr;
};

// The hint after Add / Replace refused a file that is not 8-bit mono.
inline constexpr const char* kImportHint =
    "Import Audio (CTL + I) converts such files to 8-bit mono wave files.";

}  // namespace sonoprog::editor
