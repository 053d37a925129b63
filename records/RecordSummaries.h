#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/UnitRecord.h"

namespace sonoprog::records {

// Told while the summaries of a store made by an earlier version are built:
// how many of its records are counted so far, of how many.
using UpgradeProgress = std::function<void(long long done, long long total)>;

// The records' schema: 1 is the units table alone (before it had a version),
// 2 adds the summaries (unit_hours, job_counters) kept by a trigger on units
// and the indexes of the filters, 3 the sockets' counts (SocketCounts.h).
// Kept in the table schema_version.
inline constexpr int kSchemaVersion = 3;

// One database connection as the summaries need it, for the station's file
// and the line's database alike: statements take $1, $2, ... parameters, all
// given as text, and hand their rows out as text (NULL as "").
class SqlConnection {
public:
    using Row = std::vector<std::string>;
    using RowSink = std::function<void(const Row&)>;
    virtual ~SqlConnection() = default;
    // One or more statements without parameters.
    virtual bool exec(const std::string& sql) = 0;
    virtual bool rows(const std::string& sql, const std::vector<std::string>& params,
                      const RowSink& each) = 0;
    virtual std::string error() const = 0;
};

// What differs between the two databases' summaries.
struct SummaryDialect {
    const char* tables;         // the summary and version tables and the filters' indexes
    const char* versionExists;  // a row when the table schema_version is there
    const char* hoursConflict;  // ON CONFLICT ... adding a grouped row to unit_hours
    const char* triggers;       // the trigger on units that keeps the summaries
};

// The version the database is at (1 before it had one); nullopt on failure.
std::optional<int> schemaVersion(SqlConnection& db, const SummaryDialect& dialect);

// Makes the summaries of the records there are, in steps told to
// `progress`, adds the trigger that keeps them and sets the version. Runs
// inside the caller's transaction, which keeps other writers out meanwhile.
bool upgradeToSummaries(SqlConnection& db, const SummaryDialect& dialect,
                        const UpgradeProgress& progress);

// RecordStore::summary and ::counters from the summaries.
std::optional<std::vector<JobSummary>> readSummaries(SqlConnection& db,
                                                     const std::optional<std::string>& jobSha256);
std::optional<Counters> readCounters(SqlConnection& db, const std::string& jobSha256);

// " WHERE ..." for a query (empty when nothing filters), its values appended
// to `params` and numbered after those already there.
std::string recordFilter(const RecordQuery& query, std::vector<std::string>& params);

}  // namespace sonoprog::records
