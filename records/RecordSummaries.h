#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/RecordSchema.h"
#include "records/UnitRecord.h"

namespace sonoprog::records {

// Told while the summaries of a store made by an earlier version are built:
// how many of its records are counted so far, of how many.
using UpgradeProgress = std::function<void(long long done, long long total)>;

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
    SqlDialect sql;
    const char* holdWriters;     // keeps other writers off units until the upgrade is in
    const char* versionExists;   // a row when the table schema_version is there
    const char* triggers;        // the trigger on units that keeps the summaries
    const char* socketTriggers;  // the trigger on units that counts the sockets' insertions
};

// The version the database is at (1 before it had one); nullopt on failure.
std::optional<int> schemaVersion(SqlConnection& db, const SummaryDialect& dialect);

// Brings a database at version `from` (1 or later) to kSchemaVersion: the
// tables, columns and indexes of each later version, and on the way to 2 the
// summaries of the records there are, in steps told to `progress`, and the
// trigger that keeps them; on the way to 3 the sockets' counts of the units
// there are and their trigger. Sets the version. Runs inside the caller's
// transaction, which keeps other writers out meanwhile.
bool upgradeSchema(SqlConnection& db, const SummaryDialect& dialect, int from,
                   const UpgradeProgress& progress);

// RecordStore::summary and ::counters from the summaries.
std::optional<std::vector<JobSummary>> readSummaries(SqlConnection& db,
                                                     const std::optional<std::string>& jobSha256);
std::optional<Counters> readCounters(SqlConnection& db, const std::string& jobSha256);

// " WHERE ..." for a query (empty when nothing filters), its values appended
// to `params` and numbered after those already there.
std::string recordFilter(const RecordQuery& query, std::vector<std::string>& params);

// " WHERE ... ORDER BY ..." for a query's records on the line's server, in
// the order of recordFilter's (time, then as stored). A filter of one value
// may lead the order, written as a range so that the server keeps it there:
// then its index gives the order, and the time index is not walked past the
// records of other jobs, lots or Writers to find its first.
std::string recordOrderedFilter(const RecordQuery& query, std::vector<std::string>& params);

}  // namespace sonoprog::records
