#include "records/PostgresRecordStore.h"

#include <libpq-fe.h>

#include <cstdlib>

#include "records/RecordColumns.h"
#include "records/RecordSummaries.h"

namespace sonoprog::records {

namespace {

// The advisory lock serialises the first set-up of several stations or
// workers at once: CREATE ... IF NOT EXISTS alone races on the catalogue.
// Times compare as plain bytes (COLLATE "C"), as they do in the station's file.
constexpr const char* kSchema = R"sql(
BEGIN;
SELECT pg_advisory_xact_lock(5383090);
CREATE TABLE IF NOT EXISTS units (
    seq BIGSERIAL PRIMARY KEY,
    id TEXT NOT NULL UNIQUE,
    time TEXT COLLATE "C" NOT NULL,
    station TEXT NOT NULL,
    operator TEXT NOT NULL,
    job_name TEXT NOT NULL,
    job_sha256 TEXT NOT NULL,
    image_sha256 TEXT NOT NULL,
    image_checksum TEXT NOT NULL,
    target TEXT NOT NULL,
    device TEXT NOT NULL,
    writer TEXT NOT NULL,
    result TEXT NOT NULL CHECK (result IN ('pass', 'fail', 'reset')),
    failing_step TEXT NOT NULL,
    fail_line TEXT NOT NULL,
    duration_ms BIGINT NOT NULL,
    pgm_log TEXT NOT NULL,
    vrf_log TEXT NOT NULL,
    mirrored TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS units_job_time ON units (job_sha256, time);
CREATE INDEX IF NOT EXISTS units_time ON units (time);
)sql";

// The summaries as in the station's file; times and hours compare as bytes.
// The upgrade holds inserts off the units table until its summaries and
// trigger are in, so that no row lands between the two uncounted.
constexpr SummaryDialect kDialect = {
    R"sql(
LOCK TABLE units IN SHARE ROW EXCLUSIVE MODE;
CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS unit_hours (
    station TEXT NOT NULL,
    job_sha256 TEXT NOT NULL,
    job_name TEXT NOT NULL,
    hour TEXT COLLATE "C" NOT NULL,
    result TEXT NOT NULL,
    reason TEXT NOT NULL,
    units INTEGER NOT NULL,
    last_time TEXT COLLATE "C" NOT NULL,
    PRIMARY KEY (station, job_sha256, job_name, hour, result, reason)
);
CREATE TABLE IF NOT EXISTS job_counters (
    job_sha256 TEXT PRIMARY KEY,
    reset_time TEXT COLLATE "C" NOT NULL,
    pass INTEGER NOT NULL,
    fail INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS units_station_time ON units (station, time);
CREATE INDEX IF NOT EXISTS units_writer_time ON units (writer, time);
CREATE INDEX IF NOT EXISTS units_result_time ON units (result, time);
)sql",
    "SELECT 1 FROM pg_tables WHERE tablename = 'schema_version' AND schemaname = "
    "current_schema()",
    "ON CONFLICT (station, job_sha256, job_name, hour, result, reason) DO UPDATE SET "
    "units = unit_hours.units + excluded.units, last_time = CASE WHEN excluded.last_time > "
    "unit_hours.last_time THEN excluded.last_time ELSE unit_hours.last_time END",
    // As the station file's trigger: see SqliteRecordStore.cpp.
    R"sql(
CREATE OR REPLACE FUNCTION units_summaries() RETURNS trigger LANGUAGE plpgsql AS $body$
BEGIN
    INSERT INTO unit_hours AS h (station, job_sha256, job_name, hour, result, reason, units,
                                 last_time)
    VALUES (NEW.station, NEW.job_sha256, NEW.job_name, substr(NEW.time, 1, 13), NEW.result,
            CASE WHEN NEW.result = 'fail' THEN NEW.fail_line ELSE '' END, 1, NEW.time)
    ON CONFLICT (station, job_sha256, job_name, hour, result, reason) DO UPDATE SET
        units = h.units + 1, last_time = GREATEST(h.last_time, EXCLUDED.last_time);
    INSERT INTO job_counters (job_sha256, reset_time, pass, fail)
    VALUES (NEW.job_sha256, '', 0, 0) ON CONFLICT (job_sha256) DO NOTHING;
    IF NEW.result = 'reset' THEN
        UPDATE job_counters SET reset_time = NEW.time,
            pass = (SELECT COUNT(*) FROM units u WHERE u.job_sha256 = NEW.job_sha256
                    AND u.result = 'pass' AND u.time > NEW.time),
            fail = (SELECT COUNT(*) FROM units u WHERE u.job_sha256 = NEW.job_sha256
                    AND u.result = 'fail' AND u.time > NEW.time)
        WHERE job_sha256 = NEW.job_sha256 AND NEW.time >= reset_time;
    ELSE
        UPDATE job_counters SET pass = pass + (NEW.result = 'pass')::int,
                                fail = fail + (NEW.result = 'fail')::int
        WHERE job_sha256 = NEW.job_sha256 AND NEW.time >= reset_time;
    END IF;
    RETURN NULL;
END
$body$;
DROP TRIGGER IF EXISTS units_summaries ON units;
CREATE TRIGGER units_summaries AFTER INSERT ON units
    FOR EACH ROW EXECUTE FUNCTION units_summaries();
)sql",
};

// A server that does not answer must not hold a station up for minutes:
// libpq waits for ever unless told otherwise.
constexpr const char* kConnectTimeoutSeconds = "5";

std::string connectionError(PGconn* conn) {
    std::string text = conn ? PQerrorMessage(conn) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

PGconn* connect(const std::string& address) {
    // The address comes first and may set its own connect_timeout.
    const char* keys[] = {"connect_timeout", "dbname", nullptr};
    const char* values[] = {kConnectTimeoutSeconds, address.c_str(), nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    // The set-up's "already exists, skipping" notices are no news to an
    // operator; the server's errors come back as results anyway.
    if (conn)
        PQsetNoticeProcessor(
            conn, [](void*, const char*) {}, nullptr);
    return conn;
}

// libpq quotes the address it could not parse, password and all.
std::string withoutPassword(std::string text, const std::string& address) {
    const std::string shown = addressForDisplay(address);
    if (address.empty() || shown == address) return text;
    for (auto at = text.find(address); at != std::string::npos;
         at = text.find(address, at + shown.size()))
        text.replace(at, address.size(), shown);
    return text;
}

}  // namespace

bool isServerAddress(const std::string& location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

std::string addressForDisplay(const std::string& address) {
    const auto scheme = address.find("://");
    if (scheme == std::string::npos) return address;
    const auto at = address.find('@', scheme + 3);
    const auto slash = address.find('/', scheme + 3);
    if (at == std::string::npos || (slash != std::string::npos && slash < at)) return address;
    const auto colon = address.find(':', scheme + 3);
    if (colon == std::string::npos || colon > at) return address;
    return address.substr(0, colon) + address.substr(at);
}

struct PostgresRecordStore::Result {
    PGresult* res = nullptr;
    ~Result() { PQclear(res); }
    Result() = default;
    Result(Result&& other) noexcept : res(other.res) { other.res = nullptr; }
    Result& operator=(Result&&) = delete;
    explicit operator bool() const { return res != nullptr; }
    int rows() const { return PQntuples(res); }
    std::string text(int row, int column) const {
        return std::string(PQgetvalue(res, row, column),
                           static_cast<std::size_t>(PQgetlength(res, row, column)));
    }
};

// The summaries' view of the store's connection: the statements go through
// run(), so a dropped connection is made again as for any other statement.
class PostgresRecordStore::Connection final : public SqlConnection {
public:
    explicit Connection(PostgresRecordStore& store) : store_(store) {}
    bool exec(const std::string& sql) override {
        PGresult* res = PQexec(store_.conn_, sql.c_str());
        const ExecStatusType status = PQresultStatus(res);
        PQclear(res);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
        store_.lastError_ = connectionError(store_.conn_);
        store_.failed_ = true;
        return false;
    }
    bool rows(const std::string& sql, const std::vector<std::string>& params,
              const RowSink& each) override {
        std::vector<const char*> values;
        for (const auto& p : params) values.push_back(p.c_str());
        Result res = store_.run(sql, values, true);
        if (!res) return false;
        Row row(static_cast<std::size_t>(PQnfields(res.res)));
        for (int i = 0; i < res.rows(); ++i) {
            for (std::size_t c = 0; c < row.size(); ++c) row[c] = res.text(i, static_cast<int>(c));
            each(row);
        }
        return true;
    }
    std::string error() const override { return store_.lastError_; }

private:
    PostgresRecordStore& store_;
};

PostgresRecordStore::PostgresRecordStore(pg_conn* conn, std::string address)
    : conn_(conn), address_(std::move(address)), connection_(std::make_unique<Connection>(*this)) {}

std::unique_ptr<PostgresRecordStore> PostgresRecordStore::open(const std::string& address,
                                                               std::string& error,
                                                               const UpgradeProgress& progress) {
    char* parseError = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(address.c_str(), &parseError);
    if (!parsed) {
        std::string why = parseError ? parseError : "";
        PQfreemem(parseError);
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
        error = "not a database address: " + addressForDisplay(address) +
                (why.empty() ? std::string() : " (" + withoutPassword(why, address) + ")");
        return nullptr;
    }
    PQconninfoFree(parsed);
    PGconn* conn = connect(address);
    if (PQstatus(conn) != CONNECTION_OK) {
        error = "cannot reach the records database " + addressForDisplay(address) + ": " +
                connectionError(conn);
        PQfinish(conn);
        return nullptr;
    }
    std::unique_ptr<PostgresRecordStore> store(new PostgresRecordStore(conn, address));
    const bool ok = store->setUp(progress);
    if (!ok) {
        error = "cannot set up the records database " + addressForDisplay(address) + ": " +
                store->lastError();
        return nullptr;
    }
    return store;
}

PostgresRecordStore::~PostgresRecordStore() {
    PQfinish(conn_);
}

PostgresRecordStore::Result PostgresRecordStore::run(const std::string& sql,
                                                     const std::vector<const char*>& params,
                                                     bool rows) {
    const ExecStatusType expected = rows ? PGRES_TUPLES_OK : PGRES_COMMAND_OK;
    failed_ = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (PQstatus(conn_) != CONNECTION_OK) PQreset(conn_);
        if (PQstatus(conn_) != CONNECTION_OK) break;
        Result r;
        r.res = PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                             params.data(), nullptr, nullptr, 0);
        if (PQresultStatus(r.res) == expected) return r;
        // A statement the server refused stays refused; only a lost
        // connection is worth a second try.
        if (PQstatus(conn_) == CONNECTION_OK) break;
    }
    lastError_ = connectionError(conn_);
    failed_ = true;
    return {};
}

bool PostgresRecordStore::append(const UnitRecord& r) {
    const std::string duration = std::to_string(r.durationMs);
    const std::string mirrored = mirroredText(r.mirrored);
    const std::vector<const char*> params = {
        r.id.c_str(),          r.time.c_str(),      r.station.c_str(),     r.operatorName.c_str(),
        r.jobName.c_str(),     r.jobSha256.c_str(), r.imageSha256.c_str(), r.imageCheckSum.c_str(),
        r.target.c_str(),      r.device.c_str(),    r.writer.c_str(),      r.result.c_str(),
        r.failingStep.c_str(), r.failLine.c_str(),  duration.c_str(),      r.pgmLog.c_str(),
        r.vrfLog.c_str(),      mirrored.c_str()};
    return static_cast<bool>(run(std::string("INSERT INTO units (") + kRecordColumns +
                                     ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, "
                                     "$12, $13, $14, $15, $16, $17, $18) "
                                     "ON CONFLICT (id) DO NOTHING",
                                 params, false));
}

Counters PostgresRecordStore::counters(const std::string& jobSha256) {
    const auto c = readCounters(*connection_, jobSha256);
    return c.value_or(Counters{});
}

std::optional<std::vector<JobSummary>> PostgresRecordStore::summary(
    const std::optional<std::string>& jobSha256) {
    // One snapshot: the jobs, their hours and their records agree.
    if (!connection_->exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")) return std::nullopt;
    auto jobs = readSummaries(*connection_, jobSha256);
    const std::string why = lastError_;
    connection_->exec(jobs ? "COMMIT" : "ROLLBACK");
    if (!jobs) {
        lastError_ = why;
        failed_ = true;
    }
    return jobs;
}

bool PostgresRecordStore::setUp(const UpgradeProgress& progress) {
    bool ok = connection_->exec(kSchema);
    std::optional<int> version;
    if (ok) ok = (version = schemaVersion(*connection_, kDialect)).has_value();
    if (ok && *version < kSchemaVersion) ok = upgradeToSummaries(*connection_, kDialect, progress);
    if (ok) ok = connection_->exec("COMMIT");
    if (ok) return true;
    const std::string why = lastError_;
    connection_->exec("ROLLBACK");
    lastError_ = why;
    return false;
}

void PostgresRecordStore::streamRows(const std::string& sql, const std::vector<const char*>& values,
                                     const RecordSink& sink, bool& handedOut) {
    // Row by row as the server sends them: memory stays that of one record.
    if (!PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                           values.data(), nullptr, nullptr, 0) ||
        !PQsetSingleRowMode(conn_)) {
        lastError_ = connectionError(conn_);
        failed_ = true;
        // Whatever was sent is read to its end, so that the connection is free again.
        while (PGresult* res = PQgetResult(conn_)) PQclear(res);
        return;
    }
    UnitRecord r;
    bool wanted = true;
    while (PGresult* res = PQgetResult(conn_)) {
        const ExecStatusType status = PQresultStatus(res);
        if (status == PGRES_SINGLE_TUPLE && wanted) {
            const auto text = [res](int column, std::string& into) {
                into.assign(PQgetvalue(res, 0, column),
                            static_cast<std::size_t>(PQgetlength(res, 0, column)));
            };
            text(0, r.id);
            text(1, r.time);
            text(2, r.station);
            text(3, r.operatorName);
            text(4, r.jobName);
            text(5, r.jobSha256);
            text(6, r.imageSha256);
            text(7, r.imageCheckSum);
            text(8, r.target);
            text(9, r.device);
            text(10, r.writer);
            text(11, r.result);
            text(12, r.failingStep);
            text(13, r.failLine);
            r.durationMs = std::strtoll(PQgetvalue(res, 0, 14), nullptr, 10);
            text(15, r.pgmLog);
            text(16, r.vrfLog);
            r.mirrored =
                parseMirrored(PQgetvalue(res, 0, 17)).value_or(std::vector<MirroredPage>{});
            handedOut = true;
            if (!sink(r)) {
                // The rest is not wanted: the server is asked to stop sending it.
                wanted = false;
                if (PGcancel* cancel = PQgetCancel(conn_)) {
                    char why[256];
                    PQcancel(cancel, why, sizeof why);
                    PQfreeCancel(cancel);
                }
            }
        } else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK && wanted) {
            lastError_ = connectionError(conn_);
            failed_ = true;
        }
        PQclear(res);
    }
}

bool PostgresRecordStore::forEach(const RecordQuery& q, const RecordSink& sink) {
    lastError_.clear();
    failed_ = false;
    std::vector<std::string> params;
    const std::string sql = std::string("SELECT ") + kRecordColumns + " FROM units" +
                            recordFilter(q, params) + " ORDER BY time, seq";
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p.c_str());
    // A connection the server dropped (a restart) is made again once, as
    // for any other statement, if no record was handed out yet.
    bool handedOut = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        failed_ = false;
        if (PQstatus(conn_) != CONNECTION_OK) PQreset(conn_);
        streamRows(sql, values, sink, handedOut);
        if (!failed_ || handedOut || PQstatus(conn_) == CONNECTION_OK) break;
    }
    return !failed_;
}

std::vector<UnitRecord> PostgresRecordStore::query(const RecordQuery& q) {
    std::vector<UnitRecord> out;
    forEach(q, [&out](const UnitRecord& r) {
        out.push_back(r);
        return true;
    });
    return out;
}

bool PostgresRecordStore::appendAll(const std::vector<UnitRecord>& records) {
    if (!connection_->exec("BEGIN")) return false;
    for (const auto& r : records) {
        if (append(r)) continue;
        const std::string why = lastError_;
        connection_->exec("ROLLBACK");
        lastError_ = why;
        failed_ = true;
        return false;
    }
    return connection_->exec("COMMIT");
}

}  // namespace sonoprog::records
