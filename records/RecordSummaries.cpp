#include "records/RecordSummaries.h"

#include "records/SocketCounts.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
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

// Appends a parameter's value, giving its name ("$n").
using Parameter = std::function<std::string(std::string)>;

// Asks `count` questions as few: their rows all together, a hundred
// questions (SELECTs joined by UNION ALL) at a time.
bool unionInSteps(SqlConnection& db, std::size_t count,
                  const std::function<std::string(std::size_t, const Parameter&)>& question,
                  const SqlConnection::RowSink& each) {
    constexpr std::size_t kAtOnce = 100;
    for (std::size_t from = 0; from < count; from += kAtOnce) {
        std::string sql;
        std::vector<std::string> values;
        const Parameter param = [&values](std::string value) {
            values.push_back(std::move(value));
            return "$" + std::to_string(values.size());
        };
        for (std::size_t k = from; k < std::min(count, from + kAtOnce); ++k)
            sql += (sql.empty() ? "" : " UNION ALL ") + question(k, param);
        if (!db.rows(sql, values, each)) return false;
    }
    return true;
}

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
    // Few questions, each through an index, whatever the number of records
    // and however many versions of the summary rows the database keeps: on a
    // line's server every question is a round trip.
    struct Job {
        JobSummary summary;
        std::string resetTime;
        long long resetSeq = -1;
        Place firstRecord;
    };
    std::vector<Job> jobs;
    std::vector<std::string> params;
    if (jobSha256) params.push_back(*jobSha256);
    // Each job's counters, its first record, its latest name and its reset.
    // The job is a range of the job's index and leads the order, so that the
    // job's index answers: with "job = ..." a server drops the job from the
    // order and may take the time index instead, walking past every other
    // job's records.
    const std::string sameJob = "u.job_sha256 >= c.job_sha256 AND u.job_sha256 <= c.job_sha256";
    if (!db.rows(
            "SELECT c.job_sha256, c.reset_time, c.pass, c.fail, (SELECT time FROM units u WHERE " +
                sameJob +
                " ORDER BY job_sha256, time, seq LIMIT 1), (SELECT seq FROM units u WHERE " +
                sameJob +
                " ORDER BY job_sha256, time, seq LIMIT 1), (SELECT job_name FROM units u "
                "WHERE " +
                sameJob +
                " ORDER BY job_sha256 DESC, time DESC, seq DESC LIMIT 1), "
                "(SELECT seq FROM units u WHERE u.job_sha256 = c.job_sha256 AND u.time = "
                "c.reset_time AND u.result = 'reset' ORDER BY seq DESC LIMIT 1) FROM job_counters "
                "c" +
                (jobSha256 ? " WHERE c.job_sha256 = $1" : "") + " ORDER BY c.job_sha256",
            params, [&](const SqlConnection::Row& row) {
                Job j;
                j.summary.jobSha256 = row[0];
                j.resetTime = row[1];
                j.summary.counters = {number(row[2]), number(row[3])};
                j.firstRecord = {row[4], number(row[5])};
                j.summary.jobName = row[6];
                if (!row[7].empty()) j.resetSeq = number(row[7]);
                jobs.push_back(std::move(j));
            }))
        return std::nullopt;

    // The failures since each job's reset: whole hours after the reset's hour
    // from unit_hours, each job's through the hour index from its reset's
    // hour, named in the question so that the server knows how few they are.
    struct Failure {
        long long count = 0;
        std::string firstHour;
        std::optional<Place> first;
    };
    std::map<std::string, std::map<std::string, Failure>> failures;  // job, fail line
    if (!unionInSteps(
            db, jobs.size(),
            [&](std::size_t i, const Parameter& param) {
                return "SELECT job_sha256, reason, SUM(units), MIN(hour) FROM unit_hours WHERE "
                       "job_sha256 = " +
                       param(jobs[i].summary.jobSha256) + " AND result = 'fail' AND hour > " +
                       param(jobs[i].resetTime.substr(0, 13)) + " GROUP BY job_sha256, reason";
            },
            [&](const SqlConnection::Row& row) {
                Failure& f = failures[row[0]][row[1]];
                f.count = number(row[2]);
                f.firstHour = row[3];
            }))
        return std::nullopt;

    // Then the failed records of a few hours, all jobs in one question: each
    // reset's own hour after the reset (counted one by one), and the first
    // hour of each fail line (where it first happened).
    struct Part {
        std::size_t job;
        bool afterReset;
        std::string hour;
    };
    std::vector<Part> parts;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].resetTime.empty()) parts.push_back({i, true, jobs[i].resetTime.substr(0, 13)});
        std::set<std::string> hours;
        for (const auto& [line, f] : failures[jobs[i].summary.jobSha256]) hours.insert(f.firstHour);
        for (const auto& hour : hours) parts.push_back({i, false, hour});
    }
    std::map<std::pair<std::size_t, std::string>, Failure> afterReset;           // job, fail line
    std::map<std::tuple<std::size_t, std::string, std::string>, Place> firstIn;  // job, hour, line
    if (!unionInSteps(
            db, parts.size(),
            [&](std::size_t k, const Parameter& param) {
                const Part& part = parts[k];
                const Job& j = jobs[part.job];
                std::string sql = "SELECT " + std::to_string(k) +
                                  ", fail_line, time, seq FROM units WHERE job_sha256 = " +
                                  param(j.summary.jobSha256) + " AND time >= " + param(part.hour) +
                                  " AND time < " + param(hourEnd(part.hour)) +
                                  " AND result = 'fail'";
                if (part.afterReset)
                    sql += " AND (time, seq) > (" + param(j.resetTime) + ", CAST(" +
                           param(std::to_string(j.resetSeq)) + " AS BIGINT))";
                return sql;
            },
            [&](const SqlConnection::Row& row) {
                const Part& part = parts[static_cast<std::size_t>(number(row[0]))];
                const Place place{row[2], number(row[3])};
                if (part.afterReset) {
                    Failure& f = afterReset[{part.job, row[1]}];
                    ++f.count;
                    if (!f.first || place < *f.first) f.first = place;
                } else {
                    auto [at, added] = firstIn.try_emplace({part.job, part.hour, row[1]}, place);
                    if (!added && place < at->second) at->second = place;
                }
            }))
        return std::nullopt;

    for (std::size_t i = 0; i < jobs.size(); ++i) {
        Job& j = jobs[i];
        auto& reasons = failures[j.summary.jobSha256];
        for (auto at = afterReset.lower_bound({i, ""});
             at != afterReset.end() && at->first.first == i; ++at) {
            Failure& whole = reasons[at->first.second];
            whole.count += at->second.count;
            whole.first = at->second.first;
        }
        for (auto& [line, f] : reasons) {
            if (f.first) continue;
            const auto at = firstIn.find({i, f.firstHour, line});
            if (at != firstIn.end()) f.first = at->second;
        }
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

std::string recordOrderedFilter(const RecordQuery& q, std::vector<std::string>& params) {
    std::vector<std::string> conditions;
    const auto param = [&](const std::string& value) {
        params.push_back(value);
        return "$" + std::to_string(params.size());
    };
    // The filters of one value. A lot or a job leads: its records lie
    // together in time, and the time index would be walked past everyone
    // else's to reach them. Else a Writer, a station or a result leads when
    // it is the only one; of two or more, the server reads whichever index
    // of theirs finds the fewest records, each index being in time order.
    const std::pair<const std::optional<std::string>*, const char*> equal[] = {
        {&q.lot, "lot"},         {&q.jobSha256, "job_sha256"}, {&q.writer, "writer"},
        {&q.station, "station"}, {&q.result, "result"},
    };
    const int others = (q.writer ? 1 : 0) + (q.station ? 1 : 0) + (q.result ? 1 : 0);
    const char* lead = nullptr;
    for (const auto& [value, column] : equal) {
        if (!*value) continue;
        const std::string name = param(**value);
        const bool clustered = value == &q.lot || value == &q.jobSha256;
        if (!lead && (clustered || others == 1)) {
            lead = column;
            conditions.push_back(std::string(column) + " >= " + name + " AND " + column +
                                 " <= " + name);
        } else {
            conditions.push_back(std::string(column) + " = " + name);
        }
    }
    if (q.since) conditions.push_back("time >= " + param(*q.since));
    if (q.until) conditions.push_back("time < " + param(*q.until));
    std::string sql;
    for (const auto& c : conditions) sql += (sql.empty() ? " WHERE " : " AND ") + c;
    return sql + " ORDER BY " + (lead ? std::string(lead) + ", " : std::string()) + "time, seq";
}

}  // namespace sonoprog::records
