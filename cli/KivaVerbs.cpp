#include "cli/Commands.h"
#include "cli/FieldText.h"
#include "kiva/KivaOperations.h"

namespace sonoprog::cli {

namespace {

// Application Note has no command of its own; the operations still want an opener.
class NoDocuments final : public kiva::DocumentOpener {
public:
    void openDocument(const std::string&) override {}
};

}  // namespace

// Write and Verify take the DAT file as Load File does, then run; the Writer
// is opened only once the file has converted.
int runKiva(Session& s) {
    const Invocation& inv = s.invocation();
    const std::string_view action = inv.command->action;
    kiva::KivaFields fields;
    NoDocuments documents;
    if (action != "blank") {
        NoWriterLink noWriter;
        kiva::KivaOperations loader(fields, s.log(), s.lock(), s.yield(), s.prompter(), s.files(),
                                    s.clock(), noWriter, documents);
        s.files().openFiles.push_back(inv.arguments.at(0));
        if (!loader.loadFile()) return kExitFailed;
        if (action == "load") return s.exitStatus();
    }
    link::WriterLink* link = s.writerLink();
    if (!link) return s.exitStatus();
    kiva::KivaOperations ops(fields, s.log(), s.lock(), s.yield(), s.prompter(), s.files(),
                             s.clock(), *link, documents);
    const bool ok = action == "blank"   ? ops.blankCheck()
                    : action == "write" ? ops.write()
                                        : ops.verify();
    return ok ? s.exitStatus() : kExitFailed;
}

}  // namespace sonoprog::cli
