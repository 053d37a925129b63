// Any bytes as a project file: Load Project must fill the table without
// crashing, end unlocked, keep every cell free of separators and control
// characters, and a saved table must load back the same.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/FileChooser.h"
#include "core/YieldHook.h"
#include "editor/EditorOperations.h"
#include "editor/ProjectFile.h"

using namespace sonoprog;
using namespace sonoprog::editor;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

class QuietPrompter final : public core::Prompter {
public:
    void showMessage(std::string_view, std::string_view, core::BoxIcon) override { ++boxes; }
    bool askYesNo(std::string_view, std::string_view, core::BoxIcon) override { return true; }
    int boxes = 0;
};

class FixedFiles final : public core::FileChooser {
public:
    std::optional<std::string> chooseOpenFile(const core::FileDialogRequest&) override {
        return open;
    }
    std::vector<std::string> chooseOpenFiles(const core::FileDialogRequest&) override { return {}; }
    std::optional<std::string> chooseSaveFile(const core::FileDialogRequest&) override {
        return save;
    }
    std::string open;
    std::string save;
};

class NoonClock final : public core::Clock {
public:
    std::tm localNow() override {
        std::tm t{};
        t.tm_year = 111;
        t.tm_mday = 1;
        t.tm_hour = 12;
        return t;
    }
};

const std::filesystem::path& folder() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("sonoprog-fuzz-project-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d / "Temp");
        return d;
    }();
    return dir;
}

bool cleanCell(const std::string& text) {
    for (char c : text)
        if (c == '>' || c == '*' || (static_cast<unsigned char>(c) < ' ')) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto project = folder() / "p.log";
    std::FILE* f = std::fopen(project.c_str(), "wb");
    check(f != nullptr);
    check(size == 0 || std::fwrite(data, 1, size, f) == size);
    std::fclose(f);

    SectionTable table;
    PanelState panel;
    QuietPrompter prompter;
    FixedFiles files;
    core::NoYield yield;
    NoonClock clock;
    core::AppPaths paths = core::AppPaths::forFolder(folder());
    EditorOperations ops(table, panel, prompter, files, yield, clock, paths);
    files.open = project.string();
    check(ops.loadProject() == ProjectResult::Done);
    check(prompter.boxes == 0);
    for (EditorControl c :
         {EditorControl::Save, EditorControl::Load, EditorControl::Build, EditorControl::Add,
          EditorControl::Clear, EditorControl::DeviceSel, EditorControl::PageControl})
        check(panel.controlEnabled(c));
    for (int r = 1; r <= kSectionCount; ++r) {
        check(cleanCell(table.cell(r, kColRate)) && cleanCell(table.cell(r, kColSize)));
        check(table.cell(r, kColRate).size() <= kProjectLineLimit);
        check(table.cell(r, kColStatus).empty());
        check(table.cell(r, kColSection) == sectionLabel(r - 1));
    }
    check(table.cell(0, kColRate) == "Rate(Hz)");

    files.save = (folder() / "q.log").string();
    check(ops.saveProject() == ProjectResult::Done);
    SectionTable again;
    EditorOperations reload(again, panel, prompter, files, yield, clock, paths);
    files.open = files.save;
    check(reload.loadProject() == ProjectResult::Done);
    for (int r = 1; r <= kSectionCount; ++r) {
        std::string line =
            projectLine(table.cell(r, kColRate), table.cell(r, kColSize), table.cell(r, kColFile));
        if (line.size() - 2 > kProjectLineLimit) continue;  // a saved line that long is cut
        for (int c = kColRate; c <= kColFile; ++c) check(again.cell(r, c) == table.cell(r, c));
    }
    return 0;
}
