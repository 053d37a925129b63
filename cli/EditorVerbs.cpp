#include <cstdio>

#include "cli/Commands.h"
#include "editor/EditorOperations.h"
#include "editor/EditorPanel.h"
#include "editor/SectionTable.h"

namespace sonoprog::cli {

// Load Project, the summary refreshed, then Make DAT File into OUT: the
// replace question is answered by --yes, and every section the build marks
// red is named on standard error before the failure box.
int runEditor(Session& s) {
    const Invocation& inv = s.invocation();
    editor::SectionTable table;
    table.prepare();
    editor::PanelState panel;
    editor::EditorOperations ops(table, panel, s.prompter(), s.files(), s.yield(), s.clock(),
                                 s.paths());

    s.files().openFiles.push_back(inv.arguments.at(0));
    if (ops.loadProject() != editor::ProjectResult::Done) return kExitFailed;
    ops.RefreshSummary();

    s.prompter().beforeError = [&] {
        for (const auto& f : editor::markedSections(table))
            s.pane().noteLine("section", "Section " + std::to_string(f.section) + ": " + f.status);
    };
    s.files().saveFiles.push_back(inv.arguments.at(1));
    const editor::BuildResult result = ops.makeDatFile();
    s.prompter().beforeError = nullptr;

    using editor::SummaryField;
    const std::string usage = panel.summary(SummaryField::MemUsg);
    const std::string rate = panel.summary(SummaryField::HstRate);
    const std::string last = panel.summary(SummaryField::LstSec);
    if (inv.json) {
        // The summary fields hold numbers the build computed; they go out as
        // JSON numbers (a field not a number, which the build never leaves,
        // would go out as null).
        std::fprintf(s.out(),
                     "{\"kind\":\"summary\",\"memoryUsage\":%s,\"highestRate\":%s,"
                     "\"lastSection\":%s}\n",
                     jsonNumber(usage).c_str(), jsonNumber(rate).c_str(), jsonNumber(last).c_str());
    } else {
        std::fprintf(s.out(),
                     "Memory Usage (Byte): %s\nThe Highest Rate (Hz): %s\n"
                     "Last Section No.: %s\n",
                     usage.c_str(), rate.c_str(), last.c_str());
    }
    return result == editor::BuildResult::Done ? s.exitStatus() : kExitFailed;
}

}  // namespace sonoprog::cli
