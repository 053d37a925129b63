#include "records/RecordSummaries.h"

#include "records/SocketCounts.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <tuple>

namespace sonoprog::records {

namespace {

long long number(const std::string& text) {
    return std::strtoll(text.c_str(), nullptr, 10);
}

// The first time of an hour's records is "YYYY-MM-DDTHH" itself; every time
// of the hour sorts before the hour followed by ';' (the next character
// after ':').
std::string hourEnd(const std::string& hour) {
    return hour + ";";
}

// A record's place in the order of the records: by time, then as stored.
using Place = std::pair<std::string, long long>;

}  // namespace

std::optional<int> schemaVersion(SqlConnection& db, const SummaryDialect& dialect) {
    bool exists = false;
    if (!db.rows(dialect.versionExists, {}, [&](const SqlConnection::Row&) { exists = true; }))
        return std::nullopt;
    if (!exists) return 1;
    int version = 1;
    if (!db.rows("SELECT MAX(version) FROM schema_version", {}, [&](const SqlConnection::Row& row) {
            if (!row[0].empty()) version = static_cast<int>(number(row[0]));
        }))
        return std::nullopt;
    return version;
}

namespace {

// The summaries of the records there are, then the trigger that keeps them.
bool buildSummaries(SqlConnection& db, const SummaryDialect& dialect,
                    const UpgradeProgress& progress) {
    // Built afresh: a summary half made by an interrupted upgrade never
    // survives it (its transaction is rolled back), but be sure.
    if (!db.exec("DELETE FROM unit_hours; DELETE FROM job_counters;")) return false;
    long long first = 0, last = -1, total = 0;
    if (!db.rows("SELECT MIN(seq), MAX(seq), COUNT(*) FROM units", {},
                 [&](const SqlConnection::Row& row) {
                     if (row[0].empty()) return;
                     first = number(row[0]);
                     last = number(row[1]);
                     total = number(row[2]);
                 }))
        return false;
    // The hours in steps of the stored order, so that a large file shows
    // how far it got.
    const long long span = last - first + 1;
    const long long step = std::max<long long>(100000, span / 20);
    // A new file has nothing to count, and nothing to tell.
    const bool tell = progress && total > 0;
    if (tell) progress(0, total);
    for (long long from = first; from <= last; from += step) {
        const std::string sql =
            "INSERT INTO unit_hours (station, job_sha256, job_name, hour, result, reason, units, "
            "last_time) SELECT station, job_sha256, job_name, substr(time, 1, 13), result, "
            "CASE WHEN result = 'fail' THEN fail_line ELSE '' END, COUNT(*), MAX(time) FROM units "
            "WHERE seq >= " +
            std::to_string(from) + " AND seq < " + std::to_string(from + step) +
            " GROUP BY station, job_sha256, job_name, substr(time, 1, 13), result, CASE WHEN "
            "result = 'fail' THEN fail_line ELSE '' END " +
            "ON CONFLICT (station, job_sha256, job_name, hour, result, reason) DO UPDATE SET "
            "units = unit_hours.units + excluded.units, last_time = CASE WHEN "
            "excluded.last_time > unit_hours.last_time THEN excluded.last_time ELSE "
            "unit_hours.last_time END";
        if (!db.exec(sql)) return false;
        if (tell)
            progress(std::min(total, total * (from + step - first) / std::max<long long>(span, 1)),
                     total);
    }
    // Each job's counters after its last reset (by time, then as stored).
    if (!db.exec("INSERT INTO job_counters (job_sha256, reset_time, pass, fail) "
                 "SELECT j.job_sha256, COALESCE(r.time, ''), "
                 "(SELECT COUNT(*) FROM units u WHERE u.job_sha256 = j.job_sha256 AND "
                 "u.result = 'pass' AND (r.time IS NULL OR (u.time, u.seq) > (r.time, r.seq))), "
                 "(SELECT COUNT(*) FROM units u WHERE u.job_sha256 = j.job_sha256 AND "
                 "u.result = 'fail' AND (r.time IS NULL OR (u.time, u.seq) > (r.time, r.seq))) "
                 "FROM (SELECT DISTINCT job_sha256 FROM units) j LEFT JOIN "
                 "(SELECT x.job_sha256, x.time, x.seq FROM units x WHERE x.result = 'reset' AND "
                 "NOT EXISTS (SELECT 1 FROM units y WHERE y.job_sha256 = x.job_sha256 AND "
                 "y.result = 'reset' AND (y.time, y.seq) > (x.time, x.seq))) r "
                 "ON r.job_sha256 = j.job_sha256"))
        return false;
    if (!db.exec(dialect.triggers)) return false;
    if (tell) progress(total, total);
    return true;
}

}  // namespace

bool upgradeSchema(SqlConnection& db, const SummaryDialect& dialect, int from,
                   const UpgradeProgress& progress) {
    if (*dialect.holdWriters && !db.exec(dialect.holdWriters)) return false;
    for (int version = std::max(from, 1) + 1; version <= kSchemaVersion; ++version) {
        const std::string step = schemaStatements(dialect.sql, version - 1, version);
        if (!step.empty() && !db.exec(step)) return false;
        if (version == 2 && !buildSummaries(db, dialect, progress)) return false;
        if (version == kSocketsVersion && !countSockets(db, dialect.socketTriggers)) return false;
    }
    return db.exec("DELETE FROM schema_version; INSERT INTO schema_version (version) VALUES (" +
                   std::to_string(kSchemaVersion) + ")");
}

std::optional<Counters> readCounters(SqlConnection& db, const std::string& jobSha256) {
    Counters c;
    if (!db.rows("SELECT pass, fail FROM job_counters WHERE job_sha256 = $1", {jobSha256},
                 [&](const SqlConnection::Row& row) {
                     c.passed = number(row[0]);
                     c.failed = number(row[1]);
                 }))
        return std::nullopt;
    return c;
}

std::optional<std::vector<JobSummary>> readSummaries(SqlConnection& db,
                                                     const std::optional<std::string>& jobSha256) {
    struct Job {
        JobSummary summary;
        std::string resetTime;
        Place firstRecord;
    };
    std::vector<Job> jobs;
    std::vector<std::string> params;
    if (jobSha256) params.push_back(*jobSha256);
    if (!db.rows(std::string("SELECT job_sha256, reset_time, pass, fail FROM job_counters") +
                     (jobSha256 ? " WHERE job_sha256 = $1" : ""),
                 params, [&](const SqlConnection::Row& row) {
                     Job j;
                     j.summary.jobSha256 = row[0];
                     j.resetTime = row[1];
                     j.summary.counters = {number(row[2]), number(row[3])};
                     jobs.push_back(std::move(j));
                 }))
        return std::nullopt;

    // The failures since each job's reset: whole hours after the reset's hour
    // from unit_hours, in one pass over it.
    struct Failure {
        long long count = 0;
        std::string firstHour;
        std::optional<Place> first;
    };
    std::map<std::string, std::map<std::string, Failure>> failures;  // job, fail line
    if (!db.rows(std::string("SELECT h.job_sha256, h.reason, SUM(h.units), MIN(h.hour) FROM "
                             "unit_hours h JOIN job_counters c ON c.job_sha256 = h.job_sha256 "
                             "WHERE h.result = 'fail' AND h.hour > substr(c.reset_time, 1, 13)") +
                     (jobSha256 ? " AND h.job_sha256 = $1" : "") +
                     " GROUP BY h.job_sha256, h.reason",
                 params, [&](const SqlConnection::Row& row) {
                     Failure& f = failures[row[0]][row[1]];
                     f.count = number(row[2]);
                     f.firstHour = row[3];
                 }))
        return std::nullopt;

    auto failsIn = [&](const std::string& job, const std::string& from, const std::string& to,
                       const Place& after, std::map<std::string, Failure>& into) {
        return db.rows(
            "SELECT fail_line, time, seq FROM units WHERE job_sha256 = $1 AND time >= $2 AND "
            "time < $3 AND result = 'fail' AND (time, seq) > ($4, CAST($5 AS BIGINT)) "
            "ORDER BY time, seq",
            {job, from, to, after.first, std::to_string(after.second)},
            [&](const SqlConnection::Row& row) {
                Failure& f = into[row[0]];
                if (!f.first) f.first = Place{row[1], number(row[2])};
                if (&into != &failures[job]) ++f.count;
            });
    };

    for (auto& j : jobs) {
        const std::string& job = j.summary.jobSha256;
        if (!db.rows("SELECT time, seq FROM units WHERE job_sha256 = $1 ORDER BY time, seq LIMIT 1",
                     {job},
                     [&](const SqlConnection::Row& row) {
                         j.firstRecord = {row[0], number(row[1])};
                     }) ||
            !db.rows("SELECT job_name FROM units WHERE job_sha256 = $1 ORDER BY time DESC, seq "
                     "DESC LIMIT 1",
                     {job}, [&](const SqlConnection::Row& row) { j.summary.jobName = row[0]; }))
            return std::nullopt;
        auto& reasons = failures[job];
        // The reset's own hour: its records after the reset, one by one.
        if (!j.resetTime.empty()) {
            long long resetSeq = -1;
            if (!db.rows("SELECT seq FROM units WHERE job_sha256 = $1 AND time = $2 AND result = "
                         "'reset' ORDER BY seq DESC LIMIT 1",
                         {job, j.resetTime},
                         [&](const SqlConnection::Row& row) { resetSeq = number(row[0]); }))
                return std::nullopt;
            const std::string hour = j.resetTime.substr(0, 13);
            std::map<std::string, Failure> partial;
            if (!failsIn(job, hour, hourEnd(hour), {j.resetTime, resetSeq}, partial))
                return std::nullopt;
            for (auto& [line, f] : partial) {
                Failure& whole = reasons[line];
                whole.count += f.count;
                whole.first = f.first;
            }
        }
        // When each other fail line first happened: a look into its first hour.
        std::set<std::string> hours;
        for (const auto& [line, f] : reasons)
            if (!f.first) hours.insert(f.firstHour);
        for (const auto& hour : hours)
            if (!failsIn(job, hour, hourEnd(hour), {"", -1}, reasons)) return std::nullopt;
        std::vector<std::pair<Place, FailureCount>> ordered;
        for (const auto& [line, f] : reasons)
            ordered.push_back({f.first.value_or(Place{f.firstHour, 0}), {line, f.count}});
        std::sort(ordered.begin(), ordered.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [place, failure] : ordered) j.summary.failures.push_back(std::move(failure));
    }
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const Job& a, const Job& b) { return a.firstRecord < b.firstRecord; });
    std::vector<JobSummary> out;
    for (auto& j : jobs) out.push_back(std::move(j.summary));
    return out;
}

std::string recordFilter(const RecordQuery& q, std::vector<std::string>& params) {
    std::string where;
    auto add = [&](const std::optional<std::string>& value, const char* condition) {
        if (!value) return;
        params.push_back(*value);
        where += where.empty() ? " WHERE " : " AND ";
        where += condition;
        where += " $" + std::to_string(params.size());
    };
    add(q.jobSha256, "job_sha256 =");
    add(q.since, "time >=");
    add(q.until, "time <");
    add(q.station, "station =");
    add(q.writer, "writer =");
    add(q.result, "result =");
    add(q.lot, "lot =");
    return where;
}

}  // namespace sonoprog::records
