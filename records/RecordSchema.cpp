#include "records/RecordSchema.h"

namespace sonoprog::records {

namespace {

std::string typeName(SqlDialect dialect, ColumnType type) {
    const bool sqlite = dialect == SqlDialect::Sqlite;
    switch (type) {
        case ColumnType::RowNumber:
            return sqlite ? "INTEGER PRIMARY KEY AUTOINCREMENT" : "BIGSERIAL PRIMARY KEY";
        case ColumnType::Text:
            return "TEXT";
        case ColumnType::Time:
            // SQLite compares text byte for byte already.
            return sqlite ? "TEXT" : "TEXT COLLATE \"C\"";
        case ColumnType::Integer:
            return sqlite ? "INTEGER" : "BIGINT";
    }
    return "TEXT";
}

std::string columnText(SqlDialect dialect, const Column& column) {
    std::string text = std::string(column.name) + " " + typeName(dialect, column.type);
    if (*column.constraint) text += std::string(" ") + column.constraint;
    return text;
}

bool addedBetween(int since, int from, int to) {
    return since > from && since <= to;
}

}  // namespace

std::string schemaStatements(SqlDialect dialect, int from, int to, std::span<const Table> tables,
                             std::span<const Index> indexes) {
    std::string sql;
    for (const auto& table : tables) {
        if (table.since > to) continue;
        if (addedBetween(table.since, from, to)) {
            sql += std::string("CREATE TABLE IF NOT EXISTS ") + table.name + " (";
            const char* separator = "\n    ";
            for (const auto& column : table.columns) {
                if (column.since > to) continue;
                sql += separator + columnText(dialect, column);
                separator = ",\n    ";
            }
            if (table.primaryKey)
                sql += separator + std::string("PRIMARY KEY (") + table.primaryKey + ")";
            sql += "\n)";
            // A table keyed by its own columns needs no row number besides.
            if (table.primaryKey && dialect == SqlDialect::Sqlite) sql += " WITHOUT ROWID";
            sql += ";\n";
            continue;
        }
        for (const auto& column : table.columns)
            if (addedBetween(column.since, from, to))
                sql += std::string("ALTER TABLE ") + table.name + " ADD COLUMN " +
                       columnText(dialect, column) + ";\n";
    }
    for (const auto& index : indexes)
        if (addedBetween(index.since, from, to))
            sql += std::string("CREATE INDEX IF NOT EXISTS ") + index.name + " ON " + index.table +
                   " (" + index.columns + ");\n";
    return sql;
}

}  // namespace sonoprog::records
