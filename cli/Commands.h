#pragma once

#include "cli/Session.h"

namespace sonoprog::cli {

// One runner per command family; each returns the exit status.
int runTarn(Session& session);
int runSerialFlash(Session& session);
int runKiva(Session& session);
int runEditor(Session& session);
int runIvr(Session& session);
int runWriters(Session& session);
int runJob(Session& session);
int runProduceCommand(Session& session);
int runRecords(Session& session);
int runProduction(Session& session);
int runServe(Session& session);

}  // namespace sonoprog::cli
