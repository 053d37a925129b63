#pragma once

#include <atomic>
#include <memory>

#include "cli/Session.h"
#include "records/RecordStore.h"

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

// The records --records, [Records] Database or the station's file names.
// `reading`: a file that is not there is not made. nullptr after an error
// line (none when `quiet` and the file is not there). While `stop` is up, a line's database is not
// waited on.
std::unique_ptr<records::RecordStore> openStore(Session& s, bool reading = false,
                                                bool quiet = false,
                                                const std::atomic<bool>* stop = nullptr);

}  // namespace sonoprog::cli
