#include "records/SqliteRecordStore.h"

#include <sqlite3.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "records/RecordColumns.h"
#include "records/RecordSummaries.h"
#include "records/SocketCounts.h"
#include "records/SqliteStatement.h"

namespace sonoprog::records {

namespace {

// Every unit is an insertion of its Writer's socket; a counter reset is none.
constexpr const char* kSocketTrigger = R"sql(
CREATE TRIGGER IF NOT EXISTS units_sockets AFTER INSERT ON units WHEN NEW.result <> 'reset' BEGIN
    INSERT INTO sockets (writer, insertions, reset_time) VALUES (NEW.writer, 1, '')
    ON CONFLICT (writer) DO UPDATE SET insertions = sockets.insertions + 1;
END;
)sql";

constexpr SummaryDialect kDialect = {
    SqlDialect::Sqlite,
    "",
    "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'",
    // Every row that lands in units counts, whoever wrote it. A record older
    // than the job's last reset does not count; a reset older than the last
    // one changes nothing; a later reset counts again the records after it
    // (through the job's index: only those that came in out of order).
    R"sql(
CREATE TRIGGER IF NOT EXISTS units_summaries AFTER INSERT ON units BEGIN
    INSERT INTO unit_hours (station, job_sha256, job_name, hour, result, reason, units, last_time)
    VALUES (NEW.station, NEW.job_sha256, NEW.job_name, substr(NEW.time, 1, 13), NEW.result,
            CASE WHEN NEW.result = 'fail' THEN NEW.fail_line ELSE '' END, 1, NEW.time)
    ON CONFLICT (station, job_sha256, job_name, hour, result, reason) DO UPDATE SET
        units = unit_hours.units + 1,
        last_time = CASE WHEN excluded.last_time > unit_hours.last_time
                         THEN excluded.last_time ELSE unit_hours.last_time END;
    INSERT INTO job_counters (job_sha256, reset_time, pass, fail)
    VALUES (NEW.job_sha256, '', 0, 0) ON CONFLICT (job_sha256) DO NOTHING;
    UPDATE job_counters SET pass = pass + (NEW.result = 'pass'), fail = fail + (NEW.result = 'fail')
    WHERE job_sha256 = NEW.job_sha256 AND NEW.result <> 'reset' AND NEW.time >= reset_time;
    UPDATE job_counters SET reset_time = NEW.time,
        pass = (SELECT COUNT(*) FROM units u WHERE u.job_sha256 = NEW.job_sha256
                AND u.result = 'pass' AND u.time > NEW.time),
        fail = (SELECT COUNT(*) FROM units u WHERE u.job_sha256 = NEW.job_sha256
                AND u.result = 'fail' AND u.time > NEW.time)
    WHERE job_sha256 = NEW.job_sha256 AND NEW.result = 'reset' AND NEW.time >= reset_time;
END;
)sql",
    kSocketTrigger,
};

// "$1" becomes "?1": the summaries' statements are written once for both databases.
std::string sqliteParameters(std::string sql) {
    for (std::size_t i = 0; i + 1 < sql.size(); ++i)
        if (sql[i] == '$' && sql[i + 1] >= '0' && sql[i + 1] <= '9') sql[i] = '?';
    return sql;
}

void assignText(std::string& into, sqlite3_stmt* s, int column) {
    const auto* p = sqlite3_column_text(s, column);
    if (p)
        into.assign(reinterpret_cast<const char*>(p),
                    static_cast<std::size_t>(sqlite3_column_bytes(s, column)));
    else
        into.clear();
}

// Fills `r` in place, so that a stream of rows reuses its strings.
void readRow(sqlite3_stmt* s, UnitRecord& r) {
    assignText(r.id, s, 0);
    assignText(r.time, s, 1);
    assignText(r.station, s, 2);
    assignText(r.operatorName, s, 3);
    assignText(r.jobName, s, 4);
    assignText(r.jobSha256, s, 5);
    assignText(r.imageSha256, s, 6);
    assignText(r.imageCheckSum, s, 7);
    assignText(r.target, s, 8);
    assignText(r.device, s, 9);
    assignText(r.writer, s, 10);
    assignText(r.result, s, 11);
    assignText(r.failingStep, s, 12);
    assignText(r.failLine, s, 13);
    r.durationMs = sqlite3_column_int64(s, 14);
    assignText(r.pgmLog, s, 15);
    assignText(r.vrfLog, s, 16);
    // The column is only ever written from mirroredText(); a text that does
    // not parse (edited by hand) reads as no pages rather than failing the query.
    const auto* mirrored = sqlite3_column_text(s, 17);
    r.mirrored.clear();
    if (mirrored && *mirrored)
        r.mirrored = parseMirrored(reinterpret_cast<const char*>(mirrored))
                         .value_or(std::vector<MirroredPage>{});
    assignText(r.lot, s, 18);
}

}  // namespace

// The summaries' view of the store's connection.
class SqliteRecordStore::Connection final : public SqlConnection {
public:
    explicit Connection(sqlite3* db) : db_(db) {}
    bool exec(const std::string& sql) override {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
        error_ = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        return false;
    }
    bool rows(const std::string& sql, const std::vector<std::string>& params,
              const RowSink& each) override {
        SqliteStatement s(db_, sqliteParameters(sql));
        if (!s) {
            error_ = sqlite3_errmsg(db_);
            return false;
        }
        for (std::size_t i = 0; i < params.size(); ++i) s.bind(static_cast<int>(i + 1), params[i]);
        Row row;
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            row.resize(static_cast<std::size_t>(sqlite3_column_count(s.get())));
            for (std::size_t i = 0; i < row.size(); ++i) row[i] = s.text(static_cast<int>(i));
            each(row);
        }
        if (rc == SQLITE_DONE) return true;
        error_ = sqlite3_errmsg(db_);
        return false;
    }
    std::string error() const override { return error_; }

private:
    sqlite3* db_;
    std::string error_;
};

SqliteRecordStore::SqliteRecordStore(sqlite3* db, std::filesystem::path file)
    : db_(db), file_(std::move(file)), connection_(std::make_unique<Connection>(db)) {}

std::unique_ptr<SqliteRecordStore> SqliteRecordStore::open(const std::filesystem::path& file,
                                                           std::string& error,
                                                           const OpenOptions& options) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX |
                                       (options.mustExist ? 0 : SQLITE_OPEN_CREATE),
                                   nullptr);
    if (rc != SQLITE_OK) {
        error = "cannot open records file " + file.string() + ": " +
                (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<SqliteRecordStore> store(new SqliteRecordStore(db, file));
    // Other processes (one per Writer) may hold the write lock for a moment.
    sqlite3_busy_timeout(db, 10000);
    // FULL: a commit in WAL mode is on the disk before it returns, which is
    // what lets the loop print a unit's summary only after its record.
    // Several workers starting at once on a new file race to make it: the
    // switch to the write-ahead log can report the file locked without
    // waiting, so the set-up is tried again for a while.
    for (int attempt = 0;; ++attempt) {
        if (store->exec("PRAGMA journal_mode=WAL") && store->exec("PRAGMA synchronous=FULL") &&
            store->setUp(options))
            break;
        const int code = sqlite3_errcode(db) & 0xFF;
        if ((code != SQLITE_BUSY && code != SQLITE_LOCKED) || attempt >= 200) {
            error = "cannot set up records file " + file.string() + ": " + store->lastError();
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (store->journalMode() != "wal") {
        error = "records file " + file.string() + " cannot use a write-ahead log";
        return nullptr;
    }
    if (sqlite3_prepare_v3(db, insertStatement().c_str(), -1, SQLITE_PREPARE_PERSISTENT,
                           &store->insert_, nullptr) != SQLITE_OK) {
        error = "cannot set up records file " + file.string() + ": " + store->sqliteError();
        return nullptr;
    }
    return store;
}

std::string SqliteRecordStore::insertStatement() {
    return std::string("INSERT INTO units (") + kRecordColumns +
           ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, "
           "?18, ?19) ON CONFLICT (id) DO NOTHING";
}

bool SqliteRecordStore::setUp(const OpenOptions& options) {
    // A file already at this version needs nothing written.
    auto version = records::schemaVersion(*connection_, kDialect);
    if (version && *version >= kSchemaVersion) return true;
    // The write lock first: a second process opening the same file at the
    // same time waits here, then finds the work done.
    if (!exec("BEGIN IMMEDIATE")) return false;
    bool ok = exec(schemaStatements(SqlDialect::Sqlite, 0, 1).c_str());
    if (ok) {
        version = records::schemaVersion(*connection_, kDialect);
        ok = version.has_value();
        if (!ok) lastError_ = connection_->error();
    }
    if (ok && *version < kSchemaVersion) {
        ok = upgradeSchema(*connection_, kDialect, *version, options.progress);
        if (!ok) lastError_ = connection_->error();
    }
    if (ok && exec("COMMIT")) return true;
    const std::string why = lastError_;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    lastError_ = why;
    return false;
}

SqliteRecordStore::~SqliteRecordStore() {
    sqlite3_finalize(insert_);
    connection_.reset();
    sqlite3_close(db_);
}

std::string SqliteRecordStore::sqliteError() const {
    return sqlite3_errmsg(db_);
}

bool SqliteRecordStore::exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    lastError_ = message ? message : sqliteError();
    sqlite3_free(message);
    return false;
}

std::string SqliteRecordStore::journalMode() {
    SqliteStatement s(db_, "PRAGMA journal_mode");
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return {};
    return s.text(0);
}

int SqliteRecordStore::schemaVersion() {
    return records::schemaVersion(*connection_, kDialect).value_or(0);
}

bool SqliteRecordStore::insert(const UnitRecord& r) {
    sqlite3_stmt* s = insert_;
    sqlite3_reset(s);
    auto text = [s](int index, const std::string& value) {
        sqlite3_bind_text(s, index, value.c_str(), static_cast<int>(value.size()), SQLITE_STATIC);
    };
    const std::string mirrored = mirroredText(r.mirrored);
    text(1, r.id);
    text(2, r.time);
    text(3, r.station);
    text(4, r.operatorName);
    text(5, r.jobName);
    text(6, r.jobSha256);
    text(7, r.imageSha256);
    text(8, r.imageCheckSum);
    text(9, r.target);
    text(10, r.device);
    text(11, r.writer);
    text(12, r.result);
    text(13, r.failingStep);
    text(14, r.failLine);
    sqlite3_bind_int64(s, 15, static_cast<sqlite3_int64>(r.durationMs));
    text(16, r.pgmLog);
    text(17, r.vrfLog);
    text(18, mirrored);
    text(19, r.lot);
    const bool done = sqlite3_step(s) == SQLITE_DONE;
    if (!done) lastError_ = sqliteError();
    // The texts were bound in place; none may outlive this call.
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return done;
}

bool SqliteRecordStore::append(const UnitRecord& r) {
    // One statement is one transaction: the record and its summaries are all
    // there or not at all.
    const std::lock_guard<std::mutex> hold(insertLock_);
    return insert(r);
}

bool SqliteRecordStore::appendAll(const std::vector<UnitRecord>& records) {
    const std::lock_guard<std::mutex> hold(insertLock_);
    if (!exec("BEGIN IMMEDIATE")) return false;
    for (const auto& r : records) {
        if (insert(r)) continue;
        const std::string why = lastError_;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        lastError_ = why;
        return false;
    }
    return exec("COMMIT");
}

bool SqliteRecordStore::forEach(const RecordQuery& q, const RecordSink& sink) {
    lastError_.clear();
    std::vector<std::string> params;
    const std::string where = recordFilter(q, params);
    SqliteStatement s(db_, sqliteParameters(std::string("SELECT ") + kRecordColumns +
                                            " FROM units" + where + " ORDER BY time, seq"));
    if (!s) {
        lastError_ = sqliteError();
        return false;
    }
    for (std::size_t i = 0; i < params.size(); ++i) s.bind(static_cast<int>(i + 1), params[i]);
    UnitRecord r;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        readRow(s.get(), r);
        if (!sink(r)) return true;
    }
    if (rc == SQLITE_DONE) return true;
    lastError_ = sqliteError();
    return false;
}

bool SqliteRecordStore::writable() {
    // The write lock, then a record as a unit would store it, then nothing
    // kept: what refuses a unit's record refuses this one.
    if (!exec("BEGIN IMMEDIATE")) return false;
    UnitRecord probe;
    probe.id = newRecordId();
    probe.time = utcTimeNow();
    probe.result = std::string(kResultReset);
    const bool stored = append(probe);
    const std::string why = lastError_;
    exec("ROLLBACK");
    lastError_ = why;
    return stored;
}

std::vector<UnitRecord> SqliteRecordStore::query(const RecordQuery& q) {
    std::vector<UnitRecord> out;
    forEach(q, [&out](const UnitRecord& r) {
        out.push_back(r);
        return true;
    });
    return out;
}

Counters SqliteRecordStore::counters(const std::string& jobSha256) {
    auto c = readCounters(*connection_, jobSha256);
    if (!c) {
        lastError_ = connection_->error();
        return {};
    }
    return *c;
}

std::optional<std::vector<SocketCount>> SqliteRecordStore::socketCounts(
    const std::optional<std::string>& writer) {
    auto counts = readSocketCounts(*connection_, writer);
    if (!counts) lastError_ = connection_->error();
    return counts;
}

bool SqliteRecordStore::resetSocket(const std::string& writer) {
    const std::lock_guard<std::mutex> hold(insertLock_);
    if (!exec("BEGIN IMMEDIATE")) return false;
    if (resetSocketCount(*connection_, writer) && exec("COMMIT")) return true;
    const std::string why = connection_->error();
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    lastError_ = why;
    return false;
}

std::optional<std::vector<JobSummary>> SqliteRecordStore::summary(
    const std::optional<std::string>& jobSha256) {
    lastError_.clear();
    // One read transaction: the jobs, their hours and their records agree.
    if (!exec("BEGIN")) return std::nullopt;
    auto jobs = readSummaries(*connection_, jobSha256);
    if (!jobs) lastError_ = connection_->error();
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    return jobs;
}

}  // namespace sonoprog::records
