#include "tests/support/LineSummaries.h"

#include <libpq-fe.h>
#include <sqlite3.h>

namespace sonoprog::test {

namespace {

// The store keeps the summaries itself (a trigger on its units): this only
// finds them missing, and brings the planner's statistics up to date after
// a fixture's burst of records.
constexpr const char* kSummaries = R"sql(
ANALYZE unit_hours;
ANALYZE job_counters;
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

std::string checkLineSummaries(const std::filesystem::path& stationFile) {
    return runSql(stationFile.string(), kSummaries);
}

std::string checkLineSummaries(const std::string& location) {
    return runSql(location, kSummaries);
}

std::string addReadOnlyRole(const std::string& serverAddress, const std::string& role) {
    return runOnServer(serverAddress, "CREATE ROLE " + role +
                                          " LOGIN; GRANT SELECT ON units, unit_hours, "
                                          "job_counters TO " +
                                          role + ";");
}

}  // namespace sonoprog::test
