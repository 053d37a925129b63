#pragma once

#include <span>
#include <string>

namespace sonoprog::records {

// The records' schema: 1 is the units table alone (before it had a version),
// 2 adds the summaries (unit_hours, job_counters) kept by a trigger on units
// and the indexes of the filters, 3 the sockets' counts (sockets,
// socket_resets; SocketCounts.h) and the units' lot. Kept in the table
// schema_version.
inline constexpr int kSchemaVersion = 3;

// The station's file and the line's database keep the same tables; only the
// words each database uses for them differ.
enum class SqlDialect { Sqlite, Postgres };

// What a column holds, as each database spells it.
enum class ColumnType {
    RowNumber,  // the table's own increasing key, in the order rows were stored
    Text,
    Time,     // an ISO time or hour: text that compares byte for byte
    Integer,  // 64 bits
};

struct Column {
    const char* name;
    ColumnType type;
    const char* constraint;  // "NOT NULL", "NOT NULL UNIQUE", a CHECK, a DEFAULT
    int since = 1;           // the schema version that added it
};

struct Table {
    const char* name;
    std::span<const Column> columns;
    const char* primaryKey;  // "a, b": the key of a table without a RowNumber column
    int since = 1;
};

struct Index {
    const char* name;
    const char* table;
    const char* columns;
    int since = 1;
};

// A column added to a table of an earlier version is added in place by the
// upgrade to its version, so it needs a DEFAULT when it is NOT NULL.
inline constexpr Column kUnitsColumns[] = {
    {"seq", ColumnType::RowNumber, ""},
    {"id", ColumnType::Text, "NOT NULL UNIQUE"},
    {"time", ColumnType::Time, "NOT NULL"},
    {"station", ColumnType::Text, "NOT NULL"},
    {"operator", ColumnType::Text, "NOT NULL"},
    {"job_name", ColumnType::Text, "NOT NULL"},
    {"job_sha256", ColumnType::Text, "NOT NULL"},
    {"image_sha256", ColumnType::Text, "NOT NULL"},
    {"image_checksum", ColumnType::Text, "NOT NULL"},
    {"target", ColumnType::Text, "NOT NULL"},
    {"device", ColumnType::Text, "NOT NULL"},
    {"writer", ColumnType::Text, "NOT NULL"},
    {"result", ColumnType::Text, "NOT NULL CHECK (result IN ('pass', 'fail', 'reset'))"},
    {"failing_step", ColumnType::Text, "NOT NULL"},
    {"fail_line", ColumnType::Text, "NOT NULL"},
    {"duration_ms", ColumnType::Integer, "NOT NULL"},
    {"pgm_log", ColumnType::Text, "NOT NULL"},
    {"vrf_log", ColumnType::Text, "NOT NULL"},
    {"mirrored", ColumnType::Text, "NOT NULL"},
    {"lot", ColumnType::Text, "NOT NULL DEFAULT ''", 3},
};

inline constexpr Column kVersionColumns[] = {
    {"version", ColumnType::Integer, "NOT NULL"},
};

// Units per station, job, hour, result and fail line.
inline constexpr Column kUnitHoursColumns[] = {
    {"station", ColumnType::Text, "NOT NULL"},  {"job_sha256", ColumnType::Text, "NOT NULL"},
    {"job_name", ColumnType::Text, "NOT NULL"}, {"hour", ColumnType::Time, "NOT NULL"},
    {"result", ColumnType::Text, "NOT NULL"},   {"reason", ColumnType::Text, "NOT NULL"},
    {"units", ColumnType::Integer, "NOT NULL"}, {"last_time", ColumnType::Time, "NOT NULL"},
};

// Each job's pass and fail since its last reset.
inline constexpr Column kJobCountersColumns[] = {
    {"job_sha256", ColumnType::Text, "NOT NULL"},
    {"reset_time", ColumnType::Time, "NOT NULL"},
    {"pass", ColumnType::Integer, "NOT NULL"},
    {"fail", ColumnType::Integer, "NOT NULL"},
};

// Each Writer's socket: its insertions since its last reset.
inline constexpr Column kSocketsColumns[] = {
    {"writer", ColumnType::Text, "NOT NULL"},
    {"insertions", ColumnType::Integer, "NOT NULL"},
    {"reset_time", ColumnType::Time, "NOT NULL"},
};

// Each socket reset, with the count it ended.
inline constexpr Column kSocketResetsColumns[] = {
    {"id", ColumnType::Text, "NOT NULL"},
    {"time", ColumnType::Time, "NOT NULL"},
    {"station", ColumnType::Text, "NOT NULL"},
    {"writer", ColumnType::Text, "NOT NULL"},
    {"insertions", ColumnType::Integer, "NOT NULL"},
};

inline constexpr Table kRecordTables[] = {
    {"units", kUnitsColumns, nullptr, 1},
    {"schema_version", kVersionColumns, nullptr, 2},
    {"unit_hours", kUnitHoursColumns, "station, job_sha256, job_name, hour, result, reason", 2},
    {"job_counters", kJobCountersColumns, "job_sha256", 2},
    {"sockets", kSocketsColumns, "writer", 3},
    {"socket_resets", kSocketResetsColumns, "id", 3},
};

inline constexpr Index kRecordIndexes[] = {
    {"units_job_time", "units", "job_sha256, time", 1},
    {"units_time", "units", "time", 1},
    // The filters of the reading commands.
    {"units_station_time", "units", "station, time", 2},
    {"units_writer_time", "units", "writer, time", 2},
    {"units_result_time", "units", "result, time", 2},
    // The line page reads the last day by hour.
    {"unit_hours_hour", "unit_hours", "hour", 2},
    {"units_lot_time", "units", "lot, time", 3},
};

// The statements that bring `tables` and `indexes` from version `from` to
// version `to` in `dialect`: the tables that are new in between (with their
// columns as of `to`), the columns added in between to the older tables, and
// the indexes new in between. From 0, the tables as version `to` has them.
std::string schemaStatements(SqlDialect dialect, int from, int to,
                             std::span<const Table> tables = kRecordTables,
                             std::span<const Index> indexes = kRecordIndexes);

}  // namespace sonoprog::records
