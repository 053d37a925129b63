#pragma once

#include <optional>
#include <string>
#include <vector>

#include "records/RecordStore.h"
#include "records/RecordSummaries.h"

namespace sonoprog::records {

// The sockets' counts, the same in the station's file and the line's
// database: `sockets` holds each Writer's insertions since its last reset,
// kept by a trigger on units (every unit is one insertion; a counter reset is
// none); `socket_resets` keeps each reset with the count it ended. Their
// tables are in RecordSchema.h.

// The schema version that brought the sockets' counts.
inline constexpr int kSocketsVersion = 3;

// Inside the caller's upgrade, once the tables are there: the counts of the
// units already recorded (a socket has had every unit on its Writer), then
// the dialect's `trigger` that keeps them.
bool countSockets(SqlConnection& db, const char* trigger);

// RecordStore::socketCounts from the table.
std::optional<std::vector<SocketCount>> readSocketCounts(SqlConnection& db,
                                                         const std::optional<std::string>& writer);

// Inside the caller's transaction: the reset kept (a fresh id, now, this
// station) and the count started again.
bool resetSocketCount(SqlConnection& db, const std::string& writer);

}  // namespace sonoprog::records
