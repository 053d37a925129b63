#include "tests/support/LineSummaries.h"

#include <libpq-fe.h>
#include <sqlite3.h>

namespace sonoprog::test {

namespace {

// The same statements for the station's file and the line's database.
constexpr const char* kSummaries = R"sql(
CREATE TABLE IF NOT EXISTS unit_hours (
  station    TEXT NOT NULL,
  job_sha256 TEXT NOT NULL,
  job_name   TEXT NOT NULL,
  hour       TEXT NOT NULL,
  result     TEXT NOT NULL,
  reason     TEXT NOT NULL,
  units      INTEGER NOT NULL,
  last_time  TEXT NOT NULL,
  PRIMARY KEY (station, job_sha256, job_name, hour, result, reason)
);
-- The page reads the last day's rows by hour.
CREATE INDEX IF NOT EXISTS unit_hours_hour ON unit_hours (hour);
CREATE TABLE IF NOT EXISTS job_counters (
  job_sha256 TEXT PRIMARY KEY,
  reset_time TEXT NOT NULL,
  pass INTEGER NOT NULL,
  fail INTEGER NOT NULL
);
DELETE FROM unit_hours;
DELETE FROM job_counters;
INSERT INTO unit_hours
  SELECT station, job_sha256, job_name, substr(time, 1, 13), result,
         CASE WHEN result = 'fail' THEN fail_line ELSE '' END, COUNT(*), MAX(time)
  FROM units GROUP BY station, job_sha256, job_name, substr(time, 1, 13), result,
                      CASE WHEN result = 'fail' THEN fail_line ELSE '' END;
INSERT INTO job_counters
  SELECT j.job_sha256, j.reset_time,
         (SELECT COUNT(*) FROM units u WHERE u.job_sha256 = j.job_sha256
            AND u.result = 'pass' AND u.time > j.reset_time),
         (SELECT COUNT(*) FROM units u WHERE u.job_sha256 = j.job_sha256
            AND u.result = 'fail' AND u.time > j.reset_time)
  FROM (SELECT job_sha256, COALESCE(MAX(CASE WHEN result = 'reset' THEN time END), '') AS reset_time
        FROM units GROUP BY job_sha256) j;
)sql";

std::string runOnServer(const std::string& serverAddress, const std::string& sql) {
    PGconn* conn = PQconnectdb(serverAddress.c_str());
    std::string error;
    if (PQstatus(conn) != CONNECTION_OK) {
        error = PQerrorMessage(conn);
    } else {
        PGresult* res = PQexec(conn, sql.c_str());
        if (PQresultStatus(res) != PGRES_COMMAND_OK) error = PQerrorMessage(conn);
        PQclear(res);
    }
    PQfinish(conn);
    return error;
}

}  // namespace

std::string runSql(const std::string& location, const std::string& sql) {
    if (location.rfind("postgres", 0) == 0) return runOnServer(location, sql);
    sqlite3* db = nullptr;
    std::string error;
    if (sqlite3_open_v2(location.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
    } else {
        sqlite3_busy_timeout(db, 10000);
        char* message = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK)
            error = message ? message : "failed";
        sqlite3_free(message);
    }
    sqlite3_close(db);
    return error;
}

std::string addLineSummaries(const std::filesystem::path& stationFile) {
    return runSql(stationFile.string(), kSummaries);
}

std::string addLineSummaries(const std::string& location) {
    return runSql(location, kSummaries);
}

std::string addReadOnlyRole(const std::string& serverAddress, const std::string& role) {
    return runOnServer(serverAddress, "CREATE ROLE " + role +
                                          " LOGIN; GRANT SELECT ON units, unit_hours, "
                                          "job_counters TO " +
                                          role + ";");
}

}  // namespace sonoprog::test
