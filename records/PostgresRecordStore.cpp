#include "records/PostgresRecordStore.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>

#include "records/PostgresWait.h"
#include "records/RecordColumns.h"
#include "records/RecordSummaries.h"
#include "records/SocketCounts.h"

namespace sonoprog::records {

namespace {
// The advisory lock serialises the first set-up of several stations or
// workers at once: CREATE ... IF NOT EXISTS alone races on the catalogue.
std::string setUpStatements() {
    return "BEGIN;\nSELECT pg_advisory_xact_lock(5383090);\n" +
           schemaStatements(SqlDialect::Postgres, 0, 1);
}

// The summaries as in the station's file; times and hours compare as bytes.
// The upgrade holds inserts off the units table until its summaries and
// trigger are in, so that no row lands between the two uncounted.
// As the station file's trigger: every unit is an insertion of its Writer's socket.
constexpr const char* kSocketTrigger = R"sql(
CREATE OR REPLACE FUNCTION units_sockets() RETURNS trigger LANGUAGE plpgsql AS $body$
BEGIN
    IF NEW.result <> 'reset' THEN
        INSERT INTO sockets AS s (writer, insertions, reset_time) VALUES (NEW.writer, 1, '')
        ON CONFLICT (writer) DO UPDATE SET insertions = s.insertions + 1;
    END IF;
    RETURN NULL;
END
$body$;
DROP TRIGGER IF EXISTS units_sockets ON units;
CREATE TRIGGER units_sockets AFTER INSERT ON units
    FOR EACH ROW EXECUTE FUNCTION units_sockets();
)sql";

constexpr SummaryDialect kDialect = {
    SqlDialect::Postgres,
    "LOCK TABLE units IN SHARE ROW EXCLUSIVE MODE",
    "SELECT 1 FROM pg_tables WHERE tablename = 'schema_version' AND schemaname = "
    "current_schema()",
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
    kSocketTrigger,
};

using namespace pgwait;

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

// The summaries' view of the store's connection: the statements go through
// the same bounded waits as every other, so a silent server holds up no
// upgrade or summary for ever.
class PostgresRecordStore::Connection final : public SqlConnection {
public:
    explicit Connection(PostgresRecordStore& store) : store_(store) {}
    bool exec(const std::string& sql) override {
        std::string why;
        Wait wait = Wait::Failed;
        PGresult* res = store_.conn_ ? exchange(store_.conn_, sql, nullptr, store_.quietLimit_,
                                                store_.giveUp_, why, wait)
                                     : nullptr;
        const ExecStatusType status = res ? PQresultStatus(res) : PGRES_FATAL_ERROR;
        if (res && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            why = trimmedMessage(PQresultErrorMessage(res));
        PQclear(res);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
        if (!store_.conn_) why = "the connection to the records database failed";
        store_.lastError_ = hideSecrets(why, store_.address_);
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

PostgresRecordStore::PostgresRecordStore(pg_conn* conn, std::string address, GiveUp giveUp)
    : conn_(conn),
      address_(std::move(address)),
      giveUp_(std::move(giveUp)),
      connection_(std::make_unique<Connection>(*this)) {}

std::unique_ptr<PostgresRecordStore> PostgresRecordStore::open(const std::string& address,
                                                               std::string& error,
                                                               const UpgradeProgress& progress,
                                                               GiveUp giveUp) {
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
    if (!store->setUp(progress)) {
        error = "cannot set up the records database " + addressForDisplay(address) + ": " +
                store->lastError();
        return nullptr;
    }
    return store;
}

PostgresRecordStore::~PostgresRecordStore() {
    PQfinish(conn_);
}

template <typename Attempt>
bool PostgresRecordStore::withReconnect(const Attempt& attempt, std::string& why) {
    for (int tries = 0;; ++tries) {
        if (conn_ && PQstatus(conn_) != CONNECTION_OK) {
            PQfinish(conn_);
            conn_ = nullptr;
        }
        if (!conn_ && !(conn_ = connect(address_, giveUp_, why))) return false;
        // A transaction goes with its connection: nothing of it is sent again.
        const bool inTransaction = PQtransactionStatus(conn_) != PQTRANS_IDLE;
        const Outcome outcome = attempt();
        if (outcome == Outcome::Done) return true;
        if (outcome == Outcome::Refused) return false;
        // Broke, fell quiet, was given up or left in the middle of an
        // answer: the connection is of no further use.
        PQfinish(conn_);
        conn_ = nullptr;
        if (outcome != Outcome::Lost || tries >= 1 || inTransaction) return false;
    }
}

PostgresRecordStore::Result PostgresRecordStore::run(const std::string& sql,
                                                     const std::vector<const char*>& params,
                                                     bool rows, milliseconds quietLimit) {
    const ExecStatusType expected = rows ? PGRES_TUPLES_OK : PGRES_COMMAND_OK;
    failed_ = false;
    std::string why;
    Result kept;
    const bool done = withReconnect(
        [&] {
            Wait wait;
            Result r;
            r.res = exchange(conn_, sql, &params, quietLimit, giveUp_, why, wait);
            if (r.res && PQresultStatus(r.res) == expected) {
                std::swap(kept.res, r.res);
                return Outcome::Done;
            }
            if (r.res) {
                why = trimmedMessage(PQresultErrorMessage(r.res));
                if (PQstatus(conn_) == CONNECTION_OK) return Outcome::Refused;
            }
            return wait == Wait::GivenUp ? Outcome::GivenUp : Outcome::Lost;
        },
        why);
    if (done) return kept;
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
        r.vrfLog.c_str(),      mirrored.c_str(),    r.lot.c_str()};
    return static_cast<bool>(run(insertStatement(), params, false));
}

std::string PostgresRecordStore::insertStatement() {
    return std::string("INSERT INTO units (") + kRecordColumns +
           ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, "
           "$18, $19) ON CONFLICT (id) DO NOTHING";
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

std::optional<std::vector<SocketCount>> PostgresRecordStore::socketCounts(
    const std::optional<std::string>& writer) {
    return readSocketCounts(*connection_, writer);
}

bool PostgresRecordStore::resetSocket(const std::string& writer) {
    if (!connection_->exec("BEGIN")) return false;
    if (resetSocketCount(*connection_, writer) && connection_->exec("COMMIT")) return true;
    const std::string why = lastError_;
    connection_->exec("ROLLBACK");
    lastError_ = why;
    failed_ = true;
    return false;
}

bool PostgresRecordStore::setUp(const UpgradeProgress& progress) {
    // A database already at this version needs nothing written, and one
    // question tells: every command of a station opens it, and a question
    // is a round trip to the server.
    {
        const Result r = run("SELECT MAX(version) FROM schema_version", {}, true);
        if (r && r.rows() == 1 && std::atoi(PQgetvalue(r.res, 0, 0)) >= kSchemaVersion) return true;
        // A server that broke or fell quiet has said so.
        if (!conn_) return false;
    }
    // Else (a database made before the version, or a new one) the set-up
    // under its lock, which finds out again.
    failed_ = false;
    lastError_.clear();
    bool ok = connection_->exec(setUpStatements());
    std::optional<int> version;
    if (ok) ok = (version = schemaVersion(*connection_, kDialect)).has_value();
    if (ok && *version < kSchemaVersion)
        ok = upgradeSchema(*connection_, kDialect, *version, progress);
    if (ok) ok = connection_->exec("COMMIT");
    if (ok) return true;
    const std::string why = lastError_;
    connection_->exec("ROLLBACK");
    lastError_ = why;
    return false;
}

PostgresRecordStore::Outcome PostgresRecordStore::streamRows(const std::string& sql,
                                                             const std::vector<const char*>& values,
                                                             const RecordSink& sink,
                                                             bool& handedOut, std::string& why) {
    // Row by row as the server sends them: memory stays that of one record.
    // Every wait is bounded by the server's silence, as for any statement.
    const milliseconds limit = std::max(quietLimit_, answersQuietLimit_);
    if (!PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                           values.data(), nullptr, nullptr, 0) ||
        !PQsetSingleRowMode(conn_)) {
        why = trimmedMessage(PQerrorMessage(conn_));
        return Outcome::Lost;
    }
    Wait wait = Wait::Ready;
    const auto ready = [&]() -> bool {
        auto deadline = Clock::now() + limit;
        for (int flushed; (flushed = PQflush(conn_)) != 0;) {
            if (flushed > 0) wait = waitFor(PQsocket(conn_), POLLIN | POLLOUT, deadline, giveUp_);
            if (flushed < 0 || (wait == Wait::Ready && !PQconsumeInput(conn_))) wait = Wait::Failed;
            if (wait != Wait::Ready) break;
        }
        deadline = Clock::now() + limit;
        while (wait == Wait::Ready && PQisBusy(conn_)) {
            wait = waitFor(PQsocket(conn_), POLLIN, deadline, giveUp_);
            if (wait == Wait::Ready && !PQconsumeInput(conn_)) wait = Wait::Failed;
        }
        return wait == Wait::Ready;
    };
    UnitRecord r;
    bool wanted = true;
    bool refused = false;
    while (ready()) {
        PGresult* res = PQgetResult(conn_);
        if (!res) return refused ? Outcome::Refused : Outcome::Done;
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
            text(18, r.lot);
            handedOut = true;
            if (!sink(r)) {
                // The rest is not wanted: the server is asked to stop sending it.
                wanted = false;
                if (PGcancel* cancel = PQgetCancel(conn_)) {
                    char message[256];
                    PQcancel(cancel, message, sizeof message);
                    PQfreeCancel(cancel);
                }
            }
        } else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK && wanted) {
            why = trimmedMessage(PQresultErrorMessage(res));
            refused = true;
        }
        PQclear(res);
    }
    if (wait == Wait::Failed)
        why = trimmedMessage(PQerrorMessage(conn_));
    else
        why = waitProblem(wait, limit);
    // Records already out are not handed out again.
    if (handedOut) return Outcome::Partial;
    return wait == Wait::GivenUp ? Outcome::GivenUp : Outcome::Lost;
}

bool PostgresRecordStore::forEach(const RecordQuery& q, const RecordSink& sink) {
    lastError_.clear();
    failed_ = false;
    // The server plans a statement for all of its rows, and where a filter's
    // records are spread over the table it reads them all and sorts them
    // before the first goes out. With sorting held off for this one
    // statement it reads an index in the records' order, and its rows go out
    // as they are read. (A cursor would plan for the first rows, but the
    // server collects every row a FETCH asks for before sending them.) In
    // one transaction: nothing is sent again on a new connection.
    std::vector<std::string> params;
    const std::string sql =
        std::string("SELECT ") + kRecordColumns + " FROM units" + recordOrderedFilter(q, params);
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p.c_str());
    if (!run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}, false)) return false;
    bool handedOut = false;
    std::string why;
    if (run("SET LOCAL enable_sort = off", {}, false) &&
        withReconnect([&] { return streamRows(sql, values, sink, handedOut, why); }, why))
        return static_cast<bool>(run("COMMIT", {}, false));
    if (!why.empty()) lastError_ = hideSecrets(why, address_);
    failed_ = true;
    // A connection still there holds the failed transaction.
    why = lastError_;
    if (conn_) connection_->exec("ROLLBACK");
    lastError_ = why;
    return false;
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
