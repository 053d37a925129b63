#include "records/PostgresRecordStore.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>

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

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Asked of the server's connection at every (re)connect, before the
// address's own settings (which win). TCP keepalives and a user time-out
// notice a network that went away without a reset; a stopped server, whose
// host still answers for it, is caught by the waits below.
constexpr const char* kConnectionKeys[] = {"keepalives",          "keepalives_idle",
                                           "keepalives_interval", "keepalives_count",
                                           "tcp_user_timeout",    "dbname"};
constexpr const char* kConnectionValues[] = {"1", "5", "2", "2", "10000"};
constexpr std::size_t kKeys = std::size(kConnectionKeys);
static_assert(std::size(kConnectionValues) + 1 == kKeys, "the address comes last");
constexpr milliseconds kConnectLimit{5000};
constexpr milliseconds kQueryLimit{30000};

std::string trimmedMessage(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string seconds(milliseconds limit) {
    return std::to_string((limit.count() + 999) / 1000) + " s";
}

enum class Wait { Ready, Quiet, GivenUp, Failed };

// Until the socket is ready for `events`, the deadline passes or the caller gives up.
Wait waitFor(int fd, short events, Clock::time_point deadline,
             const PostgresRecordStore::GiveUp& giveUp) {
    if (fd < 0) return Wait::Failed;
    for (;;) {
        if (giveUp && giveUp()) return Wait::GivenUp;
        const auto now = Clock::now();
        if (now >= deadline) return Wait::Quiet;
        // In slices, so that giving up is noticed at once.
        const auto slice = std::min<Clock::duration>(deadline - now, milliseconds(100));
        pollfd p{fd, events, 0};
        const int ready =
            ::poll(&p, 1, static_cast<int>(std::chrono::ceil<milliseconds>(slice).count()));
        if (ready > 0) return Wait::Ready;
        if (ready < 0 && errno != EINTR) return Wait::Failed;
    }
}

std::string waitProblem(Wait wait, milliseconds limit) {
    if (wait == Wait::Quiet) return "the records database did not answer within " + seconds(limit);
    if (wait == Wait::GivenUp) return "the wait for the records database was given up";
    return "the connection to the records database failed";
}

// A connection, or nullptr with `error` set.
PGconn* connect(const std::string& address, const PostgresRecordStore::GiveUp& giveUp,
                std::string& error) {
    const char* keys[kKeys + 1] = {};
    const char* values[kKeys + 1] = {};
    for (std::size_t i = 0; i < kKeys; ++i) {
        keys[i] = kConnectionKeys[i];
        values[i] = i + 1 < kKeys ? kConnectionValues[i] : address.c_str();
    }
    PGconn* conn = PQconnectStartParams(keys, values, 1);
    if (!conn) {
        error = "out of memory";
        return nullptr;
    }
    // The set-up's "already exists, skipping" notices are no news to an
    // operator; the server's errors come back as results anyway.
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    const auto deadline = Clock::now() + kConnectLimit;
    PostgresPollingStatusType status =
        PQstatus(conn) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
    while (status != PGRES_POLLING_OK) {
        if (status == PGRES_POLLING_FAILED) {
            error = hideSecrets(trimmedMessage(PQerrorMessage(conn)), address);
            PQfinish(conn);
            return nullptr;
        }
        const Wait wait = waitFor(
            PQsocket(conn), status == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline, giveUp);
        if (wait != Wait::Ready) {
            error = waitProblem(wait, kConnectLimit);
            PQfinish(conn);
            return nullptr;
        }
        status = PQconnectPoll(conn);
    }
    // Sending too must never block on a server that stopped reading.
    PQsetnonblocking(conn, 1);
    return conn;
}

// Sends one statement (a script of several without `params`) and collects
// its results: the first that failed, else the last. nullptr with `error`
// set when the connection is of no further use: it broke (`wait` Failed),
// the server fell quiet or the caller gave up.
PGresult* exchange(PGconn* conn, const std::string& sql, const std::vector<const char*>* params,
                   milliseconds limit, const PostgresRecordStore::GiveUp& giveUp,
                   std::string& error, Wait& wait) {
    wait = Wait::Ready;
    const int sent = params ? PQsendQueryParams(conn, sql.c_str(), static_cast<int>(params->size()),
                                                nullptr, params->data(), nullptr, nullptr, 0)
                            : PQsendQuery(conn, sql.c_str());
    if (!sent) {
        error = trimmedMessage(PQerrorMessage(conn));
        wait = Wait::Failed;
        return nullptr;
    }
    auto deadline = Clock::now() + limit;
    for (int flushed; (flushed = PQflush(conn)) != 0;) {
        if (flushed > 0) wait = waitFor(PQsocket(conn), POLLIN | POLLOUT, deadline, giveUp);
        if (flushed < 0 || (wait == Wait::Ready && !PQconsumeInput(conn))) wait = Wait::Failed;
        if (wait != Wait::Ready) {
            error = wait == Wait::Failed ? trimmedMessage(PQerrorMessage(conn))
                                         : waitProblem(wait, limit);
            return nullptr;
        }
    }
    PGresult* kept = nullptr;
    bool refused = false;
    for (;;) {
        deadline = Clock::now() + limit;
        while (PQisBusy(conn)) {
            wait = waitFor(PQsocket(conn), POLLIN, deadline, giveUp);
            if (wait == Wait::Ready && !PQconsumeInput(conn)) wait = Wait::Failed;
            if (wait != Wait::Ready) {
                error = wait == Wait::Failed ? trimmedMessage(PQerrorMessage(conn))
                                             : waitProblem(wait, limit);
                PQclear(kept);
                return nullptr;
            }
            // Rows coming in slowly are an answer: the limit is on silence.
            deadline = Clock::now() + limit;
        }
        PGresult* res = PQgetResult(conn);
        if (!res) break;
        const auto status = PQresultStatus(res);
        const bool bad = status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
        if (refused) {
            PQclear(res);
        } else {
            PQclear(kept);
            kept = res;
            refused = bad;
        }
    }
    if (!kept) error = trimmedMessage(PQerrorMessage(conn));
    return kept;
}

}  // namespace

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
                                                               std::string& error, GiveUp giveUp) {
    char* parseError = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(address.c_str(), &parseError);
    if (!parsed) {
        // The library quotes the token it could not read, which may be the password.
        const std::string why = hideSecrets(trimmedMessage(parseError), address);
        PQfreemem(parseError);
        error = "not a database address: " + addressForDisplay(address) +
                (why.empty() ? std::string() : " (" + why + ")");
        return nullptr;
    }
    PQconninfoFree(parsed);
    std::string why;
    PGconn* conn = connect(address, giveUp, why);
    if (!conn) {
        error = "cannot reach the records database " + addressForDisplay(address) + ": " + why;
        return nullptr;
    }
    std::unique_ptr<PostgresRecordStore> store(
        new PostgresRecordStore(conn, address, std::move(giveUp)));
    Wait wait;
    PGresult* res = exchange(conn, kSchema, nullptr, store->quietLimit_, store->giveUp_, why, wait);
    const bool ok = res && PQresultStatus(res) == PGRES_COMMAND_OK;
    if (res && !ok) why = trimmedMessage(PQresultErrorMessage(res));
    PQclear(res);
    if (!ok) {
        error = "cannot set up the records database " + addressForDisplay(address) + ": " +
                hideSecrets(why, address);
        return nullptr;
    }
    return store;
}

PostgresRecordStore::~PostgresRecordStore() {
    PQfinish(conn_);
}

PostgresRecordStore::Result PostgresRecordStore::run(const std::string& sql,
                                                     const std::vector<const char*>& params,
                                                     bool rows, milliseconds quietLimit) {
    const ExecStatusType expected = rows ? PGRES_TUPLES_OK : PGRES_COMMAND_OK;
    failed_ = false;
    std::string why;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (conn_ && PQstatus(conn_) != CONNECTION_OK) {
            PQfinish(conn_);
            conn_ = nullptr;
        }
        if (!conn_ && !(conn_ = connect(address_, giveUp_, why))) break;
        Wait wait;
        Result r;
        r.res = exchange(conn_, sql, &params, quietLimit, giveUp_, why, wait);
        if (r.res && PQresultStatus(r.res) == expected) return r;
        // A statement the server refused stays refused; only a connection
        // that broke is worth a second try. One that fell quiet is let go.
        if (r.res) {
            why = trimmedMessage(PQresultErrorMessage(r.res));
            if (PQstatus(conn_) == CONNECTION_OK) break;
        }
        PQfinish(conn_);
        conn_ = nullptr;
        if (wait == Wait::Quiet || wait == Wait::GivenUp) break;
    }
    lastError_ = hideSecrets(why, address_);
    failed_ = true;
    return {};
}

PostgresRecordStore::Result PostgresRecordStore::run(const std::string& sql,
                                                     const std::vector<const char*>& params,
                                                     bool rows) {
    return run(sql, params, rows, quietLimit_);
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
                     params, true, std::max(quietLimit_, kQueryLimit));
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
