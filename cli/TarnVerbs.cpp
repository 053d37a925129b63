#include "cli/Commands.h"
#include "cli/CompareReport.h"
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

    const bool takesImage = action != "read" && action != "blank";
    if (takesImage) {
        tarn::TarnOperations loader(fields, s.services());
        if (!loader.loadImage(inv.arguments.at(0))) return s.result(false);
        if (action == "load") return s.exitStatus();
    }
    // Load File has set Start Page and Write Page; the options change them after.
    if (auto n = inv.number("start")) fields.PageBeg = fieldText(*n);
    if (auto n = inv.number("count")) fields.PageCnt = fieldText(*n);
    if (auto n = inv.number("allow-error")) fields.AllowError = fieldText(*n);

    core::WriterLink* link = s.writerLink();
    if (!link) return s.result(false);
    tarn::TarnOperations ops(fields, s.services(link));
    if (action == "compare") {
        tarn::TarnComparison found;
        if (!ops.compare(!inv.flag("no-mirror"), found)) return s.result(false);
        return reportComparison(s, found.diff, found.mirrored);
    }
    // Ctrl+C ends the page loop at the next page; the chip is still released.
    StopSignals signals;
    const bool ok = action == "read"    ? ops.read()
                    : action == "blank" ? ops.blankCheck()
                    : action == "write" ? ops.write()
                                        : ops.verify();
    if (!ok && gStopRequested.load()) s.markFailed(kExitStopped);
    if (auto at = ops.firstMismatch()) s.addResultMember("first_mismatch", std::to_string(*at));
    return s.result(ok);
}

}  // namespace sonoprog::cli
