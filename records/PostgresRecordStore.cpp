#include "records/PostgresRecordStore.h"

#include <libpq-fe.h>

#include <cstdlib>

#include "records/RecordColumns.h"

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
COMMIT;
)sql";

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

std::unique_ptr<PostgresRecordStore> PostgresRecordStore::open(const std::string& address,
                                                               std::string& error) {
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
    PGresult* res = PQexec(conn, kSchema);
    const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
    PQclear(res);
    if (!ok) {
        error = "cannot set up the records database " + addressForDisplay(address) + ": " +
                connectionError(conn);
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

std::vector<UnitRecord> PostgresRecordStore::query(const RecordQuery& q) {
    std::vector<const char*> params = {q.jobSha256 ? q.jobSha256->c_str() : nullptr,
                                       q.since ? q.since->c_str() : nullptr};
    Result res = run(std::string("SELECT ") + kRecordColumns +
                         " FROM units WHERE ($1::text IS NULL OR job_sha256 = $1) AND "
                         "($2::text IS NULL OR time >= $2) ORDER BY time, seq",
                     params, true);
    std::vector<UnitRecord> out;
    if (!res) return out;
    for (int i = 0; i < res.rows(); ++i) {
        UnitRecord r;
        r.id = res.text(i, 0);
        r.time = res.text(i, 1);
        r.station = res.text(i, 2);
        r.operatorName = res.text(i, 3);
        r.jobName = res.text(i, 4);
        r.jobSha256 = res.text(i, 5);
        r.imageSha256 = res.text(i, 6);
        r.imageCheckSum = res.text(i, 7);
        r.target = res.text(i, 8);
        r.device = res.text(i, 9);
        r.writer = res.text(i, 10);
        r.result = res.text(i, 11);
        r.failingStep = res.text(i, 12);
        r.failLine = res.text(i, 13);
        r.durationMs = std::strtoll(res.text(i, 14).c_str(), nullptr, 10);
        r.pgmLog = res.text(i, 15);
        r.vrfLog = res.text(i, 16);
        r.mirrored = parseMirrored(res.text(i, 17)).value_or(std::vector<MirroredPage>{});
        out.push_back(std::move(r));
    }
    return out;
}

Counters PostgresRecordStore::counters(const std::string& jobSha256) {
    // A record sent on late from a station that lost the server has a later
    // seq but its own time: the last reset is the latest by time.
    Result res = run(
        "WITH last AS (SELECT time, seq FROM units WHERE job_sha256 = $1 AND result = 'reset' "
        "ORDER BY time DESC, seq DESC LIMIT 1) "
        "SELECT COUNT(*) FILTER (WHERE result = 'pass'), COUNT(*) FILTER (WHERE result = 'fail') "
        "FROM units WHERE job_sha256 = $1 AND result <> 'reset' AND "
        "(NOT EXISTS (SELECT 1 FROM last) OR (time, seq) > (SELECT time, seq FROM last))",
        {jobSha256.c_str()}, true);
    Counters c;
    if (!res || res.rows() != 1) return c;
    c.passed = std::strtoll(res.text(0, 0).c_str(), nullptr, 10);
    c.failed = std::strtoll(res.text(0, 1).c_str(), nullptr, 10);
    return c;
}

}  // namespace sonoprog::records
