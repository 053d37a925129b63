#include "cli/Commands.h"

#include <filesystem>
#include <system_error>

namespace sonoprog::cli {

namespace {

int dispatch(Session& session) {
    const CommandRule& cmd = *session.invocation().command;
    if (cmd.family == "tarn20") return runTarn(session);
    if (cmd.family == "serialflash") return runSerialFlash(session);
    if (cmd.family == "kiva300") return runKiva(session);
    if (cmd.family == "editor") return runEditor(session);
    if (cmd.family == "writers") return runWriters(session);
    if (cmd.family == "job") return runJob(session);
    if (cmd.family == "produce") return runProduceCommand(session);
    if (cmd.family == "records") return runRecords(session);
    if (cmd.family == "production") return runProduction(session);
    if (cmd.family == "serve") return runServe(session);
    return runIvr(session);
}

// A Writer folder is made only inside a folder that exists, so that a
// mistyped --writer sim:DIR fails before anything runs instead of growing a
// tree with fresh blank chips in it.
bool writerFolderUsable(Session& session) {
    const core::WriterOption& writer = session.invocation().writer;
    if (writer.kind != core::WriterOption::Kind::SimDir) return true;
    const std::filesystem::path dir(writer.folder);
    std::filesystem::path parent = dir.parent_path();
    if (parent.empty()) parent = ".";
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec) || std::filesystem::is_directory(parent, ec))
        return true;
    session.error("'--writer sim:" + writer.folder + "': the folder " + parent.string() +
                  " does not exist (only the last folder of DIR is made)");
    return false;
}

}  // namespace

int runCommand(Session& session) {
    int status = kExitUsage;
    if (writerFolderUsable(session)) {
        status = dispatch(session);
        session.finish();
    }
    // Lines that never reached standard output (a full disk, a closed pipe)
    // make the run a failure: a script must not take lost lines for a pass.
    if (std::fflush(session.out()) != 0 || std::ferror(session.out())) {
        session.error("cannot write to standard output; the lines of this run are lost");
        status = kExitFailed;
    }
    // Exactly one closing object, whatever the command printed before it.
    if (session.invocation().json) {
        const std::string line = session.resultLine(status) + "\n";
        std::fwrite(line.data(), 1, line.size(), session.out());
        std::fflush(session.out());
    }
    return status;
}

}  // namespace sonoprog::cli
