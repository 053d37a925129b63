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
// none); `socket_resets` keeps each reset with the count it ended.
inline constexpr const char* kSocketTables = R"sql(
CREATE TABLE IF NOT EXISTS sockets (
    writer TEXT PRIMARY KEY,
    insertions BIGINT NOT NULL,
    reset_time TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS socket_resets (
    id TEXT PRIMARY KEY,
    time TEXT NOT NULL,
    station TEXT NOT NULL,
    writer TEXT NOT NULL,
    insertions BIGINT NOT NULL
);
)sql";

// The schema version that brought the sockets' counts.
inline constexpr int kSocketsVersion = 3;

// Inside the caller's transaction: the tables, the counts of the units
// already there (a socket has had every unit recorded on its Writer), the
// trigger `trigger` (the dialect's) and the version.
bool upgradeToSockets(SqlConnection& db, const char* trigger);

// RecordStore::socketCounts from the table.
std::optional<std::vector<SocketCount>> readSocketCounts(SqlConnection& db,
                                                         const std::optional<std::string>& writer);

// Inside the caller's transaction: the reset kept (a fresh id, now, this
// station) and the count started again.
bool resetSocketCount(SqlConnection& db, const std::string& writer);

}  // namespace sonoprog::records
