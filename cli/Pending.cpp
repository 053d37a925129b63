#include "Commands.h"

namespace sonoprog::cli {

namespace {
int notBuilt(Session& session) {
    const CommandSpec& cmd = *session.invocation().command;
    session.error("'" + std::string(cmd.family) + " " + std::string(cmd.action) +
                  "' is not part of this build yet");
    return kExitFailed;
}
}  // namespace

int runTarn(Session& session) { return notBuilt(session); }
int runKiva(Session& session) { return notBuilt(session); }
int runEditor(Session& session) { return notBuilt(session); }
int runIvr(Session& session) { return notBuilt(session); }

}  // namespace sonoprog::cli
