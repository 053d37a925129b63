#pragma once

#include <memory>
#include <string>

#include "records/RecordStore.h"

struct pg_conn;

namespace sonoprog::records {

// Whether a --records value or [Records] Database names a PostgreSQL server
// ("postgresql://..." or "postgres://...") rather than a file.
bool isServerAddress(const std::string& location);

// The address without its password, for messages and the summary.
std::string addressForDisplay(const std::string& address);

// A line's records in one PostgreSQL database, through libpq: the same table
// and fields as the station's file, so every command reads it alike. Many
// stations and many worker processes append at once; a record id already
// there is not stored again.
class PostgresRecordStore final : public RecordStore {
public:
    // Connects and makes the table when it is missing; nullptr with `error`
    // set when the server cannot be reached or the address is not one.
    static std::unique_ptr<PostgresRecordStore> open(const std::string& address,
                                                     std::string& error);
    ~PostgresRecordStore() override;
    PostgresRecordStore(const PostgresRecordStore&) = delete;
    PostgresRecordStore& operator=(const PostgresRecordStore&) = delete;

    bool append(const UnitRecord& record) override;
    std::vector<UnitRecord> query(const RecordQuery& query) override;
    Counters counters(const std::string& jobSha256) override;
    std::string location() const override { return addressForDisplay(address_); }
    // Whether the last call failed (lastError() keeps the text of the last failure).
    bool lastCallFailed() const { return failed_; }

private:
    PostgresRecordStore(pg_conn* conn, std::string address)
        : conn_(conn), address_(std::move(address)) {}
    struct Result;
    // Runs one statement; a connection the server dropped (a restart) is
    // made again once and the statement tried once more.
    Result run(const std::string& sql, const std::vector<const char*>& params, bool rows);

    pg_conn* conn_;
    std::string address_;
    bool failed_ = false;
};

}  // namespace sonoprog::records
