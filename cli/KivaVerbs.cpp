#include "cli/Commands.h"
#include "cli/CompareReport.h"
#include "cli/FieldText.h"
#include "kiva/KivaOperations.h"

namespace sonoprog::cli {

// Write and Verify take the DAT file as Load File does, then run; the Writer
// is opened only once the file has converted.
int runKiva(Session& s) {
    const Invocation& inv = s.invocation();
    const std::string_view action = inv.command->action;
    kiva::KivaFields fields;
    if (action != "blank") {
        kiva::KivaOperations loader(fields, s.services(), s.ivrKeys());
        if (!loader.loadImage(inv.arguments.at(0))) return s.result(false);
        if (action == "load") return s.exitStatus();
    }
    core::WriterLink* link = s.writerLink();
    if (!link) return s.result(false);
    kiva::KivaOperations ops(fields, s.services(link), s.ivrKeys());
    if (action == "compare") {
        core::ImageComparer diff;
        if (!ops.compare(diff)) return s.result(false);
        return reportComparison(s, diff);
    }
    const bool ok = action == "blank"   ? ops.blankCheck()
                    : action == "write" ? ops.write()
                                        : ops.verify();
    if (auto at = ops.firstMismatch()) s.addResultMember("first_mismatch", std::to_string(*at));
    return s.result(ok);
}

}  // namespace sonoprog::cli
