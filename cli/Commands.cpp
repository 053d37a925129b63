#include "cli/Commands.h"

namespace sonoprog::cli {

int runCommand(Session& session) {
    const CommandRule& cmd = *session.invocation().command;
    if (cmd.family == "tarn") return runTarn(session);
    if (cmd.family == "nor") return runNor(session);
    if (cmd.family == "kiva") return runKiva(session);
    if (cmd.family == "editor") return runEditor(session);
    if (cmd.family == "writers") return runWriters(session);
    if (cmd.family == "job") return runJob(session);
    if (cmd.family == "produce") return runProduceCommand(session);
    if (cmd.family == "records") return runRecords(session);
    if (cmd.family == "production") return runProduction(session);
    return runIvr(session);
}

}  // namespace sonoprog::cli
