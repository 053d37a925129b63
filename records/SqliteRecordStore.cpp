#include "records/SqliteRecordStore.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "records/RecordColumns.h"
#include "records/SqliteStatement.h"

namespace sonoprog::records {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS units (
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    id TEXT NOT NULL UNIQUE,
    time TEXT NOT NULL,
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
    duration_ms INTEGER NOT NULL,
    pgm_log TEXT NOT NULL,
    vrf_log TEXT NOT NULL,
    mirrored TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS units_job_time ON units (job_sha256, time);
CREATE INDEX IF NOT EXISTS units_time ON units (time);
)sql";

UnitRecord readRow(SqliteStatement& s) {
    UnitRecord r;
    r.id = s.text(0);
    r.time = s.text(1);
    r.station = s.text(2);
    r.operatorName = s.text(3);
    r.jobName = s.text(4);
    r.jobSha256 = s.text(5);
    r.imageSha256 = s.text(6);
    r.imageCheckSum = s.text(7);
    r.target = s.text(8);
    r.device = s.text(9);
    r.writer = s.text(10);
    r.result = s.text(11);
    r.failingStep = s.text(12);
    r.failLine = s.text(13);
    r.durationMs = sqlite3_column_int64(s.get(), 14);
    r.pgmLog = s.text(15);
    r.vrfLog = s.text(16);
    // The column is only ever written from mirroredText(); a text that does
    // not parse (edited by hand) reads as no pages rather than failing the query.
    r.mirrored = parseMirrored(s.text(17)).value_or(std::vector<MirroredPage>{});
    return r;
}

}  // namespace

std::unique_ptr<SqliteRecordStore> SqliteRecordStore::open(const std::filesystem::path& file,
                                                           std::string& error) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(
        file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
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
            store->exec(kSchema))
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
    return store;
}

SqliteRecordStore::~SqliteRecordStore() {
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

bool SqliteRecordStore::append(const UnitRecord& r) {
    // One statement is one transaction: the record is all there or not at all.
    SqliteStatement s(db_,
                      std::string("INSERT INTO units (") + kRecordColumns +
                          ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, "
                          "?15, ?16, ?17, ?18) ON CONFLICT (id) DO NOTHING");
    if (!s) {
        lastError_ = sqliteError();
        return false;
    }
    s.bind(1, r.id);
    s.bind(2, r.time);
    s.bind(3, r.station);
    s.bind(4, r.operatorName);
    s.bind(5, r.jobName);
    s.bind(6, r.jobSha256);
    s.bind(7, r.imageSha256);
    s.bind(8, r.imageCheckSum);
    s.bind(9, r.target);
    s.bind(10, r.device);
    s.bind(11, r.writer);
    s.bind(12, r.result);
    s.bind(13, r.failingStep);
    s.bind(14, r.failLine);
    s.bind(15, static_cast<std::int64_t>(r.durationMs));
    s.bind(16, r.pgmLog);
    s.bind(17, r.vrfLog);
    s.bind(18, mirroredText(r.mirrored));
    if (sqlite3_step(s.get()) != SQLITE_DONE) {
        lastError_ = sqliteError();
        return false;
    }
    return true;
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
    std::string sql = std::string("SELECT ") + kRecordColumns + " FROM units WHERE 1";
    if (q.jobSha256) sql += " AND job_sha256 = ?1";
    if (q.since) sql += " AND time >= ?2";
    sql += " ORDER BY time, seq";
    SqliteStatement s(db_, sql);
    std::vector<UnitRecord> out;
    if (!s) {
        lastError_ = sqliteError();
        return out;
    }
    if (q.jobSha256) s.bind(1, *q.jobSha256);
    if (q.since) s.bind(2, *q.since);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) out.push_back(readRow(s));
    if (rc != SQLITE_DONE) lastError_ = sqliteError();
    return out;
}

Counters SqliteRecordStore::counters(const std::string& jobSha256) {
    // Units after the job's last reset, in the order the records were made.
    SqliteStatement s(db_,
                      "WITH last AS (SELECT time, seq FROM units WHERE job_sha256 = ?1 AND "
                      "result = 'reset' ORDER BY time DESC, seq DESC LIMIT 1) "
                      "SELECT COALESCE(SUM(result = 'pass'), 0), COALESCE(SUM(result = 'fail'), 0) "
                      "FROM units WHERE job_sha256 = ?1 AND result <> 'reset' AND "
                      "(NOT EXISTS (SELECT 1 FROM last) OR time > (SELECT time FROM last) OR "
                      "(time = (SELECT time FROM last) AND seq > (SELECT seq FROM last)))");
    Counters c;
    if (!s) {
        lastError_ = sqliteError();
        return c;
    }
    s.bind(1, jobSha256);
    if (sqlite3_step(s.get()) == SQLITE_ROW) {
        c.passed = sqlite3_column_int64(s.get(), 0);
        c.failed = sqlite3_column_int64(s.get(), 1);
    } else {
        lastError_ = sqliteError();
    }
    return c;
}

}  // namespace sonoprog::records
