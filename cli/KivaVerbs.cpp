#include "cli/Commands.h"
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
        if (!loader.loadImage(inv.arguments.at(0))) return kExitFailed;
        if (action == "load") return s.exitStatus();
    }
    core::WriterLink* link = s.writerLink();
    if (!link) return s.exitStatus();
    kiva::KivaOperations ops(fields, s.services(link), s.ivrKeys());
    const bool ok = action == "blank"   ? ops.blankCheck()
                    : action == "write" ? ops.write()
                                        : ops.verify();
    return ok ? s.exitStatus() : kExitFailed;
}

}  // namespace sonoprog::cli
