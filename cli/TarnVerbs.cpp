#include "cli/Commands.h"
#include "cli/FieldText.h"
#include "tarn/TarnOperations.h"

namespace sonoprog::cli {

// Load File on the image first, then the operation, as an operator does it
// in the window: the options stand for the tab's fields. The Writer is opened
// only once the image has loaded.
int runTarn(Session& s) {
    const Invocation& inv = s.invocation();
    const std::string_view action = inv.command->action;
    tarn::TarnFields fields;
    if (auto n = inv.number("info-page")) fields.InfoPage = fieldText(*n);

    if (action != "read") {
        tarn::TarnOperations loader(fields, s.services());
        if (!loader.loadImage(inv.arguments.at(0))) return kExitFailed;
        if (action == "load") return s.exitStatus();
    }
    // Load File has set Start Page and Write Page; the options change them after.
    if (auto n = inv.number("start")) fields.PageBeg = fieldText(*n);
    if (auto n = inv.number("count")) fields.PageCnt = fieldText(*n);
    if (auto n = inv.number("allow-error")) fields.AllowError = fieldText(*n);

    core::WriterLink* link = s.writerLink();
    if (!link) return s.exitStatus();
    tarn::TarnOperations ops(fields, s.services(link));
    // Ctrl+C ends the page loop at the next page; the chip is still released.
    StopSignals signals;
    const bool ok = action == "read" ? ops.read() : action == "write" ? ops.write() : ops.verify();
    if (!ok && gStopRequested.load()) return kExitStopped;
    return ok ? s.exitStatus() : kExitFailed;
}

}  // namespace sonoprog::cli
