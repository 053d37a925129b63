#include "Commands.h"
#include "FieldText.h"
#include "KivaOperations.h"

namespace sonoprog::cli {

namespace {

// Application Note has no command of its own; the operations still want an opener.
class NoDocuments final : public kiva::DocumentOpener {
public:
    void openDocument(const std::string&) override {}
};

}  // namespace

// Write and Verify take the DAT file as Load File does, then run.
int runKiva(Session& s) {
    const Invocation& inv = s.invocation();
    const std::string_view action = inv.command->action;
    kiva::KivaFields fields;
    NoDocuments documents;
    NoWriterLink noWriter;
    link::WriterLink* link = &noWriter;
    if (action != "load") {
        link = s.writerLink();
        if (!link) return kExitFailed;
    }
    kiva::KivaOperations ops(fields, s.log(), s.lock(), s.yield(), s.prompter(), s.files(),
                             s.clock(), *link, documents);
    bool ok = true;
    if (action == "blank") {
        ok = ops.blankCheck();
    } else {
        s.files().openFiles.push_back(inv.arguments.at(0));
        ok = ops.loadFile();
        if (ok && action == "write") ok = ops.write();
        if (ok && action == "verify") ok = ops.verify();
    }
    return ok ? s.exitStatus() : kExitFailed;
}

}  // namespace sonoprog::cli
