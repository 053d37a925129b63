#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "core/IniFile.h"
#include "core/LineSafe.h"
#include "core/NumberText.h"
#include "editor/ChipFit.h"
#include "editor/EditorOperations.h"
#include "editor/EditorPanel.h"
#include "editor/ProjectFile.h"
#include "editor/SectionTable.h"
#include "serialflash/SerialFlashDevices.h"

namespace sonoprog::cli {

namespace {

using editor::SummaryField;

// One project on the table the window's commands work on: loaded from the
// project file, changed by the same operations, saved back to the same file.
struct EditorRun {
    explicit EditorRun(Session& s)
        : session(s), ops(table, panel, s.prompter(), s.files(), s.yield(), s.clock(), s.paths()) {
        table.prepare();
        ops.setLongWork([&s](const core::ProgressFigures& f) { s.pane().setProgressFigures(f); },
                        &s.stopCheck());
    }

    // After Import Audio or Make DAT File: the bar leaves the terminal, and a
    // stop is said as the window says it.
    void endLongWork(bool stopped) {
        session.pane().endProgressBar();
        if (stopped) session.pane().noteLine("warn", core::kStoppedByOperator);
    }

    const std::string& project() const { return session.invocation().arguments.at(0); }
    // A file that is not a project is refused and left as it is: loaded as an
    // empty table it would be saved over.
    bool isProject() {
        if (auto why = editor::notAProject(project())) {
            session.error(core::lineSafe(*why));
            return false;
        }
        return true;
    }
    bool load() {
        return isProject() && ops.loadProjectFrom(project()) == editor::ProjectResult::Done;
    }
    bool save() { return ops.saveProjectTo(project()) == editor::ProjectResult::Done; }

    // The files of the command line as full paths, as the open dialog gives them.
    std::vector<std::string> files() const {
        const auto& args = session.invocation().arguments;
        std::vector<std::string> out;
        for (std::size_t i = 1; i < args.size(); ++i)
            out.push_back(std::filesystem::absolute(args[i]).lexically_normal().string());
        return out;
    }

    // --section N, or the first section not used (-1 when every one is).
    int sectionRow() const {
        if (auto n = session.invocation().number("section")) return static_cast<int>(*n) + 1;
        for (int r = editor::kFirstSectionRow; r <= editor::kLastSectionRow; ++r)
            if (!table.isUsed(r)) return r;
        return -1;
    }

    void printSummary() {
        const std::string usage = panel.summary(SummaryField::MemUsg);
        const std::string rate = panel.summary(SummaryField::HstRate);
        const std::string last = panel.summary(SummaryField::LstSec);
        if (session.invocation().json) {
            std::fprintf(session.out(),
                         "{\"kind\":\"summary\",\"memoryUsage\":%s,\"highestRate\":%s,"
                         "\"lastSection\":%s}\n",
                         jsonNumber(usage).c_str(), jsonNumber(rate).c_str(),
                         jsonNumber(last).c_str());
        } else {
            std::fprintf(session.out(),
                         "Memory Usage (Byte): %s\nThe Highest Rate (Hz): %s\n"
                         "Last Section No.: %s\n",
                         usage.c_str(), rate.c_str(), last.c_str());
        }
    }

    void printSections(int fromRow = editor::kFirstSectionRow,
                       int toRow = editor::kLastSectionRow) {
        for (const auto& r : editor::sectionReports(table)) {
            if (r.section + 1 < fromRow || r.section + 1 > toRow) continue;
            if (session.invocation().json) {
                std::fprintf(session.out(),
                             "{\"kind\":\"section\",\"section\":%d,\"rate\":%s,\"size\":%s,"
                             "\"pages\":%u,\"file\":%s,\"problem\":%s}\n",
                             r.section, jsonNumber(r.rate).c_str(), jsonNumber(r.size).c_str(),
                             r.pages, jsonString(r.file).c_str(), jsonString(r.problem).c_str());
            } else {
                std::fprintf(session.out(), "Section %d: %s Hz, %s bytes, %u pages, %s%s\n",
                             r.section, core::lineSafe(r.rate).c_str(),
                             core::lineSafe(r.size).c_str(), r.pages,
                             core::lineSafe(r.file).c_str(),
                             r.problem.empty() ? "" : (": " + r.problem).c_str());
            }
        }
    }

    Session& session;
    editor::SectionTable table;
    editor::PanelState panel;
    editor::EditorOperations ops;
};

int editorNew(Session& s) {
    EditorRun run(s);
    std::error_code ec;
    if (std::filesystem::exists(run.project(), ec) &&
        !s.prompter().askYesNo(
            "WARNING", "File: " + run.project() + " already exist, Do you want to replace it?",
            core::BoxIcon::Information))
        return kExitFailed;
    if (!run.save()) return kExitFile;
    run.ops.RefreshSummary();
    run.printSummary();
    return s.exitStatus();
}

// Add / Replace and Import Audio: placed from the section on; whatever was
// placed before a refusal stays and is saved, as the window keeps it.
int editorPlace(Session& s, bool import) {
    EditorRun run(s);
    if (!run.load()) return kExitFile;
    const int row = run.sectionRow();
    if (row < 0) {
        s.error("every section is used; choose one with --section");
        return kExitFailed;
    }
    run.ops.selectRow(row);
    const std::vector<std::string> files = run.files();
    editor::AddResult result;
    if (import) {
        const Invocation& inv = s.invocation();
        editor::ImportSettings settings;
        settings.rate = editor::defaultImportRate(editor::computeSummary(run.table).highest);
        if (auto rate = inv.number("rate")) settings.rate = static_cast<std::uint32_t>(*rate);
        settings.mixChannels = inv.flag("mono");
        settings.normalize = !inv.flag("no-normalize");
        if (auto trim = inv.text("trim-db")) {
            const std::optional<double> db = core::parseOptionDecimal(*trim);
            if (!db || *db > 0) {
                s.error("'--trim-db " + core::lineSafe(*trim) + "': a level in dB, 0 or below");
                return kExitUsage;
            }
            settings.trimDb = *db;
        }
        const core::IniFile setup = core::IniFile::load(s.paths().setupIni());
        run.ops.setLargestChip(serialflash::largestChipBytes(setup, editor::kTarnUserAreaBytes));
        if (auto out = inv.text("out")) settings.outDir = std::filesystem::absolute(*out).string();
        {
            // Ctrl+C ends the import between two files; those before it stay placed.
            StopSignals signals;
            result = run.ops.importFiles(files, settings);
        }
        run.endLongWork(result == editor::AddResult::Stopped);
    } else {
        s.files().openFiles.assign(files.begin(), files.end());
        result = run.ops.addReplace();
        if (run.panel.hint() == editor::kImportHint)
            s.error("'editor import' converts such files to 8-bit mono wave files");
    }
    if (!run.save()) return kExitFile;
    run.printSections(row, row + static_cast<int>(files.size()) - 1);
    run.ops.RefreshSummary();
    run.printSummary();
    if (result == editor::AddResult::Stopped) return kExitStopped;
    const std::vector<std::string>& leftOut = run.ops.leftOut();
    if (!leftOut.empty()) {
        std::string names;
        for (const auto& f : leftOut) names += (names.empty() ? "" : ", ") + core::lineSafe(f);
        s.error(std::to_string(leftOut.size()) + " file(s) not added" +
                (result == editor::AddResult::Failed
                     ? " after the one refused: "
                     : ", no section is left after section 1023: ") +
                names);
        return kExitFailed;
    }
    return result == editor::AddResult::Placed ? s.exitStatus() : kExitFailed;
}

int editorList(Session& s) {
    EditorRun run(s);
    if (!run.load()) return kExitFile;
    run.printSections();
    run.printSummary();
    return s.exitStatus();
}

// Remove, Up and Down run only where the window's buttons would be enabled.
int editorRowCommand(Session& s, editor::EditorControl control) {
    EditorRun run(s);
    if (!run.load()) return kExitFile;
    const int row = run.sectionRow();
    run.ops.selectRow(row);
    if (!run.panel.controlEnabled(control)) {
        const int section = row - 1;
        if (!run.table.isUsed(row))
            s.error("section " + std::to_string(section) + " is not used");
        else
            s.error("section " + std::to_string(section) + " cannot move " +
                    (control == editor::EditorControl::Up ? "up" : "down"));
        return kExitFailed;
    }
    switch (control) {
        case editor::EditorControl::Up:
            run.ops.moveUp();
            break;
        case editor::EditorControl::Down:
            run.ops.moveDown();
            break;
        default:
            run.ops.removeSection();
            break;
    }
    if (!run.save()) return kExitFile;
    run.ops.RefreshSummary();
    run.printSummary();
    return s.exitStatus();
}

int editorMove(Session& s) {
    const bool up = s.invocation().flag("up"), down = s.invocation().flag("down");
    if (up == down) {
        s.error("'editor move' needs one of --up or --down");
        return kExitUsage;
    }
    return editorRowCommand(s, up ? editor::EditorControl::Up : editor::EditorControl::Down);
}

int editorRefresh(Session& s) {
    EditorRun run(s);
    if (!run.load()) return kExitFile;
    bool problems = false;
    for (const auto& c : run.ops.refreshSections()) {
        if (!c.problem.empty()) {
            problems = true;
            std::fprintf(stderr, "Section %d: %s\n", c.section, c.problem.c_str());
            continue;
        }
        std::fprintf(s.out(), "Section %d: %s Hz, %s bytes -> %s Hz, %s bytes\n", c.section,
                     core::lineSafe(c.oldRate).c_str(), core::lineSafe(c.oldSize).c_str(),
                     c.newRate.c_str(), c.newSize.c_str());
    }
    if (!run.save()) return kExitFile;
    run.printSummary();
    return problems ? kExitFailed : s.exitStatus();
}

// Load Project, the summary refreshed, then Make DAT File into OUT: the
// replace question is answered by --yes, and every section the build marks
// red is named on standard error before the failure box.
int editorBuild(Session& s) {
    const Invocation& inv = s.invocation();
    EditorRun run(s);
    editor::SectionTable& table = run.table;
    editor::EditorOperations& ops = run.ops;

    if (!run.isProject()) return kExitFile;
    s.files().openFiles.push_back(inv.arguments.at(0));
    if (ops.loadProject() != editor::ProjectResult::Done) return kExitFailed;
    ops.RefreshSummary();

    s.prompter().beforeError = [&] {
        for (const auto& f : editor::markedSections(table))
            s.pane().noteLine("section", "Section " + std::to_string(f.section) + ": " + f.status);
    };
    s.files().saveFiles.push_back(inv.arguments.at(1));
    editor::BuildResult result;
    {
        // Ctrl+C ends the build between two sections, with no image written.
        StopSignals signals;
        result = ops.makeDatFile();
    }
    run.endLongWork(result == editor::BuildResult::Stopped);
    s.prompter().beforeError = nullptr;
    run.printSummary();
    if (result == editor::BuildResult::Stopped) return kExitStopped;
    return result == editor::BuildResult::Done ? s.exitStatus() : kExitFailed;
}

}  // namespace

int runEditor(Session& s) {
    const std::string_view action = s.invocation().command->action;
    if (action == "new") return editorNew(s);
    if (action == "add") return editorPlace(s, false);
    if (action == "import") return editorPlace(s, true);
    if (action == "list") return editorList(s);
    if (action == "remove") return editorRowCommand(s, editor::EditorControl::Remove);
    if (action == "move") return editorMove(s);
    if (action == "refresh") return editorRefresh(s);
    return editorBuild(s);
}

}  // namespace sonoprog::cli
