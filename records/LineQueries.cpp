#include "records/LineQueries.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

#include "records/PostgresRecordStore.h"
#include "records/PostgresWait.h"
#include "records/RecordColumns.h"
#include "records/SqliteStatement.h"

namespace sonoprog::records {

namespace {

// A station silent this long while its job is open is shown amber.
constexpr long long kSilentSeconds = 10 * 60;
// A job with no unit for this long counts as closed.
constexpr long long kOpenJobSeconds = 24 * 3600;
constexpr int kWindowHours = 24;
// How long the history (each station's and job's latest rows over all hours)
// is kept between full reads: only stations silent for a day and records sent
// on late from a day ago are seen that much later.
constexpr long long kHistorySeconds = 60;

constexpr const char* kHoursFrom =
    "SELECT station, job_sha256, job_name, hour, result, reason, units, last_time "
    "FROM unit_hours WHERE hour >= ";
constexpr const char* kLatest =
    "SELECT station, job_sha256, job_name, '', result, '', SUM(units), MAX(last_time) "
    "FROM unit_hours GROUP BY station, job_sha256, job_name, result";
// Through the job's key: on the line's server every record's update of its
// job's row leaves a version behind until it is reclaimed, and the table
// keeps the pages they took, so that a scan of a few rows reads thousands of
// empty pages.
constexpr const char* kJobCounts =
    "SELECT job_sha256, reset_time, pass, fail FROM job_counters ORDER BY job_sha256";

std::time_t secondsOf(const std::string& time) {
    std::tm t{};
    if (std::sscanf(time.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec) < 4)
        return 0;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return timegm(&t);
}

std::string format(std::time_t seconds, const char* pattern) {
    std::tm t{};
    gmtime_r(&seconds, &t);
    char text[40];
    std::strftime(text, sizeof text, pattern, &t);
    return text;
}

void addReason(std::vector<ReasonCount>& list, const std::string& reason, long long count) {
    for (auto& r : list)
        if (r.reason == reason) {
            r.count += count;
            return;
        }
    list.push_back({reason, count});
}

void sortReasons(std::vector<ReasonCount>& list) {
    std::stable_sort(list.begin(), list.end(), [](const ReasonCount& a, const ReasonCount& b) {
        return a.count != b.count ? a.count > b.count : a.reason < b.reason;
    });
}

void addUnits(Counters& c, const std::string& result, long long units) {
    if (result == kResultPass) c.passed += units;
    if (result == kResultFail) c.failed += units;
}

// The page only reads: a file or database that no program of this version
// has opened yet has no lot column, and its units show without one.
std::string recordColumns(bool hasLot) {
    return hasLot ? kRecordColumns : std::string(kFirstRecordColumns) + ", '' AS lot";
}

// ---- the station's file ----

class SqliteLineQueries final : public LineQueries {
public:
    SqliteLineQueries(sqlite3* db, std::string file, std::string columns)
        : db_(db), file_(std::move(file)), columns_(std::move(columns)) {}
    ~SqliteLineQueries() override { sqlite3_close(db_); }

    bool hoursFrom(const std::string& fromHour, std::vector<HourCount>& out) override {
        SqliteStatement s(db_, std::string(kHoursFrom) + "?1");
        if (!s) return failed();
        s.bind(1, fromHour);
        return rows(s, out);
    }
    bool latest(std::vector<HourCount>& out) override {
        SqliteStatement s(db_, kLatest);
        return s ? rows(s, out) : failed();
    }
    bool jobCounts(std::vector<JobCount>& out) override {
        SqliteStatement s(db_, kJobCounts);
        if (!s) return failed();
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
            out.push_back({s.text(0), s.text(1), sqlite3_column_int64(s.get(), 2),
                           sqlite3_column_int64(s.get(), 3)});
        return rc == SQLITE_DONE || failed();
    }
    bool lastUnits(int limit, std::vector<UnitRecord>& out) override {
        SqliteStatement s(db_, "SELECT " + columns_ + " FROM units ORDER BY seq DESC LIMIT ?1");
        if (!s) return failed();
        s.bind(1, static_cast<std::int64_t>(limit));
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            UnitRecord r;
            std::string* texts[] = {&r.id,          &r.time,      &r.station,     &r.operatorName,
                                    &r.jobName,     &r.jobSha256, &r.imageSha256, &r.imageCheckSum,
                                    &r.target,      &r.device,    &r.writer,      &r.result,
                                    &r.failingStep, &r.failLine};
            for (int i = 0; i < 14; ++i) *texts[i] = s.text(i);
            r.durationMs = sqlite3_column_int64(s.get(), 14);
            r.pgmLog = s.text(15);
            r.vrfLog = s.text(16);
            r.mirrored = parseMirrored(s.text(17)).value_or(std::vector<MirroredPage>{});
            r.lot = s.text(18);
            out.push_back(std::move(r));
        }
        std::reverse(out.begin(), out.end());
        return rc == SQLITE_DONE || failed();
    }
    std::string location() const override { return file_; }

protected:
    bool beginRead() override {
        return sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK || failed();
    }
    void endRead() override { sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr); }

private:
    bool failed() {
        lastError_ = sqlite3_errmsg(db_);
        return false;
    }
    bool rows(SqliteStatement& s, std::vector<HourCount>& out) {
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
            out.push_back({s.text(0), s.text(1), s.text(2), s.text(3), s.text(4), s.text(5),
                           sqlite3_column_int64(s.get(), 6), s.text(7)});
        return rc == SQLITE_DONE || failed();
    }

    sqlite3* db_;
    std::string file_;
    std::string columns_;  // the units' columns this file has, in record order
};

// ---- the line's database ----

class PostgresLineQueries final : public LineQueries {
public:
    PostgresLineQueries(PGconn* conn, std::string address, pgwait::GiveUp giveUp)
        : conn_(conn), address_(std::move(address)), giveUp_(std::move(giveUp)) {}
    ~PostgresLineQueries() override { PQfinish(conn_); }

    // Whether the database holds the summaries; which columns its units have.
    bool check(std::string& error) {
        PGresult* res =
            run("SELECT to_regclass('unit_hours') IS NOT NULL AND "
                "to_regclass('job_counters') IS NOT NULL, EXISTS (SELECT 1 FROM "
                "information_schema.columns WHERE table_schema = current_schema() AND "
                "table_name = 'units' AND column_name = 'lot')",
                {});
        if (!res) {
            error = "cannot read the records database: " + lastError_;
            return false;
        }
        const bool have = PQntuples(res) == 1 && PQgetvalue(res, 0, 0)[0] == 't';
        const bool hasLot = PQntuples(res) == 1 && PQgetvalue(res, 0, 1)[0] == 't';
        PQclear(res);
        if (!have)
            error = "the records database holds no line summaries (unit_hours, job_counters)";
        columns_ = recordColumns(hasLot);
        return have;
    }

    bool hoursFrom(const std::string& fromHour, std::vector<HourCount>& out) override {
        return rows(run(std::string(kHoursFrom) + "$1", {fromHour.c_str()}), out);
    }
    bool latest(std::vector<HourCount>& out) override { return rows(run(kLatest, {}), out); }
    bool jobCounts(std::vector<JobCount>& out) override {
        PGresult* res = run(kJobCounts, {});
        if (!res) return false;
        for (int i = 0; i < PQntuples(res); ++i)
            out.push_back({PQgetvalue(res, i, 0), PQgetvalue(res, i, 1),
                           std::strtoll(PQgetvalue(res, i, 2), nullptr, 10),
                           std::strtoll(PQgetvalue(res, i, 3), nullptr, 10)});
        PQclear(res);
        return true;
    }
    bool lastUnits(int limit, std::vector<UnitRecord>& out) override {
        const std::string n = std::to_string(limit);
        PGresult* res = run("SELECT " + columns_ + " FROM units ORDER BY seq DESC LIMIT $1::bigint",
                            {n.c_str()});
        if (!res) return false;
        for (int i = PQntuples(res) - 1; i >= 0; --i) {
            UnitRecord r;
            std::string* texts[] = {&r.id,          &r.time,      &r.station,     &r.operatorName,
                                    &r.jobName,     &r.jobSha256, &r.imageSha256, &r.imageCheckSum,
                                    &r.target,      &r.device,    &r.writer,      &r.result,
                                    &r.failingStep, &r.failLine};
            for (int c = 0; c < 14; ++c) *texts[c] = text(res, i, c);
            r.durationMs = std::strtoll(PQgetvalue(res, i, 14), nullptr, 10);
            r.pgmLog = text(res, i, 15);
            r.vrfLog = text(res, i, 16);
            r.mirrored = parseMirrored(text(res, i, 17)).value_or(std::vector<MirroredPage>{});
            r.lot = text(res, i, 18);
            out.push_back(std::move(r));
        }
        PQclear(res);
        return true;
    }
    std::string location() const override { return address_; }

protected:
    bool beginRead() override {
        PGresult* res = run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}, false);
        PQclear(res);
        return res != nullptr;
    }
    void endRead() override {
        if (conn_) PQclear(run("COMMIT", {}, false));
    }

private:
    static std::string text(PGresult* res, int row, int column) {
        return std::string(PQgetvalue(res, row, column),
                           static_cast<std::size_t>(PQgetlength(res, row, column)));
    }
    // One statement, no wait on the server longer than kQuietLimit without a
    // word (or past giveUp). A connection that broke (a server restart) is
    // made again once, outside a transaction; one that fell quiet is let go.
    PGresult* run(const std::string& sql, const std::vector<const char*>& params,
                  bool rows = true) {
        const ExecStatusType expected = rows ? PGRES_TUPLES_OK : PGRES_COMMAND_OK;
        std::string why;
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!conn_ && !(conn_ = pgwait::connect(address_, giveUp_, why))) break;
            const bool inTransaction = PQtransactionStatus(conn_) != PQTRANS_IDLE;
            auto wait = pgwait::Wait::Ready;
            PGresult* res = pgwait::exchange(conn_, sql, &params, kQuietLimit, giveUp_, why, wait);
            if (res && PQresultStatus(res) == expected) return res;
            if (res) {
                why = pgwait::trimmedMessage(PQresultErrorMessage(res));
                PQclear(res);
                if (PQstatus(conn_) == CONNECTION_OK) break;  // refused by the server
            }
            PQfinish(conn_);
            conn_ = nullptr;
            if (wait == pgwait::Wait::Quiet || wait == pgwait::Wait::GivenUp || inTransaction)
                break;
        }
        lastError_ = hideSecrets(why, address_);
        return nullptr;
    }
    bool rows(PGresult* res, std::vector<HourCount>& out) {
        if (!res) return false;
        for (int i = 0; i < PQntuples(res); ++i)
            out.push_back({text(res, i, 0), text(res, i, 1), text(res, i, 2), text(res, i, 3),
                           text(res, i, 4), text(res, i, 5),
                           std::strtoll(PQgetvalue(res, i, 6), nullptr, 10), text(res, i, 7)});
        PQclear(res);
        return true;
    }

    static constexpr std::chrono::milliseconds kQuietLimit{5000};

    PGconn* conn_;
    std::string address_;
    pgwait::GiveUp giveUp_;
    std::string columns_;
};

std::unique_ptr<LineQueries> openFile(const std::string& file, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        error = "no such records file";
        return nullptr;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) !=
        SQLITE_OK) {
        error = std::string("cannot open the records file: ") + sqlite3_errmsg(db);
        sqlite3_close(db);
        return nullptr;
    }
    // The stations write while the page reads.
    sqlite3_busy_timeout(db, 5000);
    SqliteStatement s(db,
                      "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                      "('units', 'unit_hours', 'job_counters')");
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW || sqlite3_column_int(s.get(), 0) != 3) {
        error = "the records file holds no line summaries (unit_hours, job_counters)";
        sqlite3_close(db);
        return nullptr;
    }
    SqliteStatement lot(db, "SELECT COUNT(*) FROM pragma_table_info('units') WHERE name = 'lot'");
    const bool hasLot =
        lot && sqlite3_step(lot.get()) == SQLITE_ROW && sqlite3_column_int(lot.get(), 0) == 1;
    return std::make_unique<SqliteLineQueries>(db, file, recordColumns(hasLot));
}

std::unique_ptr<LineQueries> openServer(const std::string& address, std::string& error,
                                        const pgwait::GiveUp& giveUp) {
    std::string why;
    PGconn* conn = pgwait::connect(address, giveUp, why);
    if (!conn) {
        error = "cannot reach the records database: " + why;
        return nullptr;
    }
    auto queries = std::make_unique<PostgresLineQueries>(conn, address, giveUp);
    if (!queries->check(error)) return nullptr;
    return queries;
}

}  // namespace

std::string hourOf(const std::string& time, int hours) {
    return format(secondsOf(time) + hours * 3600LL, "%Y-%m-%dT%H");
}

std::string timeAfter(const std::string& time, long long seconds) {
    return format(secondsOf(time) + seconds, "%Y-%m-%dT%H:%M:%S.000Z");
}

std::unique_ptr<LineQueries> LineQueries::open(const std::string& location, std::string& error,
                                               const std::function<bool()>& giveUp) {
    if (isServerAddress(location)) return openServer(location, error, giveUp);
    return openFile(location, error);
}

std::optional<LineView> LineQueries::line(
    const std::string& now, const std::optional<std::string>& since,
    const std::function<std::string(const std::string&)>& plainReason) {
    LineView view;
    view.generated = now;
    const std::string nowHour = hourOf(now);
    std::string fromHour = hourOf(now, 1 - kWindowHours);
    if (since && since->substr(0, 13) > fromHour)
        fromHour = std::min(since->substr(0, 13), nowHour);
    for (std::string h = fromHour; h <= nowHour; h = hourOf(h + ":00:00", 1))
        view.hours.push_back(h);
    view.hourly.resize(view.hours.size());
    for (std::size_t i = 0; i < view.hours.size(); ++i) view.hourly[i].hour = view.hours[i];

    // The last 25 hours: the window, and whether a job had units in the last 24.
    const std::string dayHour = std::min(fromHour, hourOf(now, -kWindowHours));
    std::vector<HourCount> window, history;
    std::vector<JobCount> jobs;
    lastError_.clear();
    const bool readHistory = historyTime_.empty() || historyTime_ > now ||
                             historyTime_ < timeAfter(now, -kHistorySeconds);
    if (!beginRead()) return std::nullopt;
    const bool ok =
        hoursFrom(dayHour, window) && (!readHistory || latest(history)) && jobCounts(jobs);
    endRead();
    if (!ok) return std::nullopt;
    if (readHistory) {
        history_ = std::move(history);
        historyTime_ = now;
    }
    // The recent rows are read every time; the history only adds what they lack.
    std::vector<HourCount> last = history_;
    last.insert(last.end(), window.begin(), window.end());

    // Each station's latest record and last unit, and each job's latest unit
    // (on any station) and name.
    struct Latest {
        std::string time, result, jobSha256, jobName, lastUnit;
    };
    std::map<std::string, Latest> stations;
    std::map<std::string, std::pair<std::string, std::string>> jobUnit;  // sha: last unit, name
    std::map<std::string, std::pair<std::string, std::string>> jobName;  // sha: time, name
    for (const auto& row : last) {
        Latest& s = stations[row.station];
        if (row.lastTime > s.time || s.time.empty()) {
            s.time = row.lastTime;
            s.result = row.result;
            s.jobSha256 = row.jobSha256;
            s.jobName = row.jobName;
        }
        auto& name = jobName[row.jobSha256];
        if (row.lastTime >= name.first) name = {row.lastTime, row.jobName};
        if (row.result == kResultReset) continue;
        s.lastUnit = std::max(s.lastUnit, row.lastTime);
        auto& unit = jobUnit[row.jobSha256];
        unit.first = std::max(unit.first, row.lastTime);
    }

    std::map<std::string, std::size_t> hourIndex;
    for (std::size_t i = 0; i < view.hours.size(); ++i) hourIndex[view.hours[i]] = i;
    const std::string silentBefore = timeAfter(now, -kSilentSeconds);
    const std::string closedBefore = timeAfter(now, -kOpenJobSeconds);
    std::map<std::string, std::size_t> stationIndex;
    for (const auto& [name, s] : stations) {
        StationLine line;
        line.station = name;
        line.jobName = s.jobName;
        line.jobSha256 = s.jobSha256;
        line.lastUnit = s.lastUnit;
        line.jobOpen = s.result != kResultReset && jobUnit[s.jobSha256].first >= closedBefore;
        line.silent = line.jobOpen && s.lastUnit < silentBefore;
        line.hourly.assign(view.hours.size(), 0);
        stationIndex[name] = view.stations.size();
        view.stations.push_back(std::move(line));
    }
    for (const auto& row : window) {
        const auto hour = hourIndex.find(row.hour);
        const auto at = stationIndex.find(row.station);
        // Hours ahead of the page's clock (a station's clock ahead) are left out.
        if (hour == hourIndex.end() || at == stationIndex.end() || row.result == kResultReset)
            continue;
        StationLine& s = view.stations[at->second];
        addUnits(s.counters, row.result, row.units);
        addUnits(view.hourly[hour->second].counters, row.result, row.units);
        s.hourly[hour->second] += row.units;
        if (row.hour == nowHour) s.unitsThisHour += row.units;
        if (row.result == kResultFail) {
            const std::string reason = plainReason ? plainReason(row.reason) : row.reason;
            addReason(s.failures, reason, row.units);
            addReason(view.failures, reason, row.units);
        }
    }
    for (auto& s : view.stations) sortReasons(s.failures);
    sortReasons(view.failures);

    for (const auto& j : jobs)
        view.jobs.push_back(
            {j.jobSha256, jobName[j.jobSha256].second, j.resetTime, {j.passed, j.failed}});
    std::stable_sort(view.jobs.begin(), view.jobs.end(), [](const JobLine& a, const JobLine& b) {
        return a.jobName != b.jobName ? a.jobName < b.jobName : a.jobSha256 < b.jobSha256;
    });
    return view;
}

}  // namespace sonoprog::records
