#include "Commands.h"
#include "FieldText.h"
#include "TarnOperations.h"

namespace sonoprog::cli {

// Load File on the image first, then the operation, as an operator does it
// in the window: the options stand for the tab's fields.
int runTarn(Session& s) {
    const Invocation& inv = s.invocation();
    const std::string_view action = inv.command->action;
    tarn::TarnFields fields;
    if (auto n = inv.number("info-page")) fields.InfoPage = fieldText(*n);

    NoWriterLink noWriter;
    link::WriterLink* link = &noWriter;
    if (action != "load") {
        link = s.writerLink();
        if (!link) return kExitFailed;
    }
    tarn::TarnOperations ops(fields, s.log(), s.lock(), s.yield(), s.prompter(), s.files(),
                             s.clock(), s.paths(), *link);
    if (action == "read") {
        bool ok = ops.read();
        return ok ? s.exitStatus() : kExitFailed;
    }

    s.files().openFiles.push_back(inv.arguments.at(0));
    bool ok = ops.loadFile();
    if (action == "load" || !ok) return ok ? s.exitStatus() : kExitFailed;

    // Load File has set Start Page and Write Page; the options change them after.
    if (auto n = inv.number("start")) fields.PageBeg = fieldText(*n);
    if (auto n = inv.number("count")) fields.PageCnt = fieldText(*n);
    if (auto n = inv.number("allow-error")) fields.AllowError = fieldText(*n);
    ok = action == "write" ? ops.write() : ops.verify();
    return ok ? s.exitStatus() : kExitFailed;
}

}  // namespace sonoprog::cli
