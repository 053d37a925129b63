#include "bench/RecordsGenerator.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "records/PostgresRecordStore.h"
#include "records/RecordColumns.h"
#include "records/RecordSchema.h"
#include "records/SqliteRecordStore.h"

namespace sonoprog::bench {

namespace {

constexpr int kStations = 10;
constexpr int kUnitsPerHour = 1000;  // per station
constexpr int kShiftHours = 16;      // two shifts a day, from 06:00
constexpr int kJobs = 3;

const char* const kFailLines[] = {"VDD failed!", "Chip not found", "Verify error at page 0x000120",
                                  "Blank check failed", "Write error at page 0x001F00"};

// A fixed mix of the index's bits: the same record for the same index.
unsigned long long mix(unsigned long long x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

std::string timeText(long long ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm t{};
    gmtime_r(&seconds, &t);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(ms % 1000));
    return buffer;
}

}  // namespace

records::UnitRecord generatedRecord(long long index) {
    const int station = static_cast<int>(index % kStations);
    const long long unit = index / kStations;  // of this station
    const long long hour = unit / kUnitsPerHour;
    const long long day = hour / kShiftHours;
    const long long hourOfDay = 6 + hour % kShiftHours;
    const long long inHour = unit % kUnitsPerHour;
    // 2026-09-01T00:00:00Z onwards.
    const long long ms =
        1788220800000LL + (day * 24 + hourOfDay) * 3600000LL + inHour * 3600LL + station * 7LL;
    const int job = static_cast<int>((hour / 100) % kJobs);
    records::UnitRecord r;
    r.id = records::newRecordId();
    r.time = timeText(ms);
    r.station = "line1-st" + std::to_string(station + 1);
    r.operatorName = station % 2 ? "Ana" : "Ben";
    r.jobName = "Greeting chip v" + std::to_string(job + 1);
    r.jobSha256 = std::string(63, "abc"[job]) + std::to_string(job);
    r.imageSha256 = std::string(64, "def"[job]);
    r.imageCheckSum = "0012AB9" + std::to_string(job);
    r.target = job == 1 ? "serialflash" : "tarn20";
    r.device = job == 1 ? "W25Q128" : "";
    r.writer =
        "usb:1-1." + std::to_string(station + 1) + " serial=W00" + std::to_string(40 + station);
    const unsigned long long dice = mix(static_cast<unsigned long long>(index));
    // The first unit of a day on the first station is that day's reset of the job.
    if (station == 0 && hour % kShiftHours == 0 && inHour == 0) {
        r.result = std::string(records::kResultReset);
    } else if (dice % 100 < 3) {
        r.result = std::string(records::kResultFail);
        r.failingStep = "  -> Program chip...";
        r.failLine = kFailLines[(dice >> 8) % 5];
    } else {
        r.result = std::string(records::kResultPass);
    }
    r.lot = "L-" + r.time.substr(0, 10) + "-" + std::to_string(job + 1);
    r.durationMs = 3000 + static_cast<std::int64_t>((dice >> 16) % 400);
    if (r.target == "tarn20" && r.result != records::kResultReset) {
        r.pgmLog = "/home/op/Temp/PGM_" + r.time.substr(0, 10) + ".log";
        r.vrfLog = "/home/op/Temp/VRF_" + r.time.substr(0, 10) + ".log";
    }
    return r;
}

bool generateRecords(records::RecordStore& store, long long n, std::string& error,
                     bool showProgress, long long batchSize) {
    std::vector<records::UnitRecord> batch;
    batch.reserve(static_cast<std::size_t>(batchSize));
    for (long long i = 0; i < n;) {
        batch.clear();
        for (; i < n && static_cast<long long>(batch.size()) < batchSize; ++i)
            batch.push_back(generatedRecord(i));
        if (!store.appendAll(batch)) {
            error = store.lastError();
            return false;
        }
        if (showProgress && i % 100000 == 0) std::fprintf(stderr, "%lld records\n", i);
    }
    return true;
}

namespace {

// Binds the record's columns in the order of kRecordColumns; the texts stay
// where they are, so `r` must outlive the step.
void bindRecord(sqlite3_stmt* s, const records::UnitRecord& r, const std::string& mirrored) {
    const std::string* texts[] = {&r.id,          &r.time,      &r.station,     &r.operatorName,
                                  &r.jobName,     &r.jobSha256, &r.imageSha256, &r.imageCheckSum,
                                  &r.target,      &r.device,    &r.writer,      &r.result,
                                  &r.failingStep, &r.failLine};
    int column = 1;
    for (const auto* t : texts)
        sqlite3_bind_text(s, column++, t->c_str(), static_cast<int>(t->size()), SQLITE_STATIC);
    sqlite3_bind_int64(s, column++, r.durationMs);
    sqlite3_bind_text(s, column++, r.pgmLog.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(s, column++, r.vrfLog.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(s, column++, mirrored.c_str(), -1, SQLITE_STATIC);
    // Only where the statement has the column (not in the first version's table).
    if (sqlite3_bind_parameter_count(s) >= column)
        sqlite3_bind_text(s, column, r.lot.c_str(), -1, SQLITE_STATIC);
}

// Inserts records 0..n-1 with `insert` on `db`, `perTransaction` to a transaction.
bool insertGenerated(sqlite3* db, const std::string& insert, long long n, long long perTransaction,
                     bool showProgress) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, insert.c_str(), -1, &s, nullptr) != SQLITE_OK) return false;
    bool ok = true;
    for (long long i = 0; ok && i < n; ++i) {
        if (i % perTransaction == 0)
            ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
        const auto r = generatedRecord(i);
        const std::string mirrored = records::mirroredText(r.mirrored);
        bindRecord(s, r, mirrored);
        ok = ok && sqlite3_step(s) == SQLITE_DONE;
        sqlite3_reset(s);
        if (ok && ((i + 1) % perTransaction == 0 || i + 1 == n)) {
            ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
            if (showProgress) std::fprintf(stderr, "%lld records\n", i + 1);
        }
    }
    sqlite3_finalize(s);
    return ok;
}

}  // namespace

bool generateRecordsFast(const std::filesystem::path& file, long long n, std::string& error) {
    if (!records::SqliteRecordStore::open(file, error)) return false;
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA cache_size=-1000000;", nullptr,
                           nullptr, nullptr) == SQLITE_OK &&
              insertGenerated(db, records::SqliteRecordStore::insertStatement(), n, 1000000, true);
    if (!ok) error = sqlite3_errmsg(db);
    sqlite3_close(db);
    return ok;
}

bool generateRecordsFastPostgres(const std::string& address, long long n, std::string& error) {
    if (!records::PostgresRecordStore::open(address, error)) return false;
    PGconn* conn = PQconnectdb(address.c_str());
    const auto failed = [&](const char* what) {
        error = std::string(what) + ": " + PQerrorMessage(conn);
        PQfinish(conn);
        return false;
    };
    if (PQstatus(conn) != CONNECTION_OK) return failed("cannot connect");
    PGresult* res = PQexec(conn, "SET synchronous_commit = off");
    PQclear(res);
    res = PQprepare(conn, "insert", records::PostgresRecordStore::insertStatement().c_str(), 0,
                    nullptr);
    const bool prepared = PQresultStatus(res) == PGRES_COMMAND_OK;
    PQclear(res);
    if (!prepared || !PQenterPipelineMode(conn)) return failed("cannot prepare the insert");
    // Each record in a transaction of its own, as a station sends it: every
    // record updates its job's counters row, and a row updated many times in
    // one transaction leaves a chain of versions that each later update walks
    // and that no page can reclaim until the end. The answers are collected a
    // thousand records at a time.
    constexpr long long kPerSync = 1000;
    const auto collect = [&]() {
        // The answers up to the next sync.
        for (;;) {
            PGresult* r = PQgetResult(conn);
            if (!r) continue;  // the end of one statement's results
            const auto status = PQresultStatus(r);
            PQclear(r);
            if (status == PGRES_PIPELINE_SYNC) return true;
            if (status != PGRES_COMMAND_OK) return false;
        }
    };
    long long sent = 0;
    for (long long i = 0; i < n;) {
        for (long long end = std::min(n, i + kPerSync); i < end; ++i) {
            const auto r = generatedRecord(i);
            const std::string duration = std::to_string(r.durationMs);
            const std::string mirrored = records::mirroredText(r.mirrored);
            const char* values[] = {
                r.id.c_str(),           r.time.c_str(),          r.station.c_str(),
                r.operatorName.c_str(), r.jobName.c_str(),       r.jobSha256.c_str(),
                r.imageSha256.c_str(),  r.imageCheckSum.c_str(), r.target.c_str(),
                r.device.c_str(),       r.writer.c_str(),        r.result.c_str(),
                r.failingStep.c_str(),  r.failLine.c_str(),      duration.c_str(),
                r.pgmLog.c_str(),       r.vrfLog.c_str(),        mirrored.c_str(),
                r.lot.c_str()};
            if (!PQsendQueryPrepared(conn, "insert", static_cast<int>(std::size(values)), values,
                                     nullptr, nullptr, 0))
                return failed("cannot send a record");
        }
        if (!PQpipelineSync(conn)) return failed("cannot send the records");
        // One thousand in flight while the next are made.
        if (++sent > 1 && !collect()) return failed("a record was refused");
        if (i % 100000 == 0) std::fprintf(stderr, "%lld records\n", i);
    }
    if (sent > 0 && !collect()) return failed("a record was refused");
    PQexitPipelineMode(conn);
    PQfinish(conn);
    return true;
}

bool generateUnitsOnlyFile(const std::filesystem::path& file, long long n, std::string& error) {
    std::filesystem::remove(file);
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        sqlite3_close(db);
        return false;
    }
    const std::string schema =
        "PRAGMA journal_mode=WAL;\n" + records::schemaStatements(records::SqlDialect::Sqlite, 0, 1);
    const bool ok =
        sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
        insertGenerated(db,
                        std::string("INSERT INTO units (") + records::kFirstRecordColumns +
                            ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, "
                            "?14, ?15, ?16, ?17, ?18)",
                        n, n, false);
    if (!ok) error = sqlite3_errmsg(db);
    sqlite3_close(db);
    return ok;
}

}  // namespace sonoprog::bench
