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
    static std::unique_ptr<PostgresRecordStore> open(const std::string& address, std::string& error,
                                                     const UpgradeProgress& progress = {});
    ~PostgresRecordStore() override;
    PostgresRecordStore(const PostgresRecordStore&) = delete;
    PostgresRecordStore& operator=(const PostgresRecordStore&) = delete;

    bool append(const UnitRecord& record) override;
    // In one transaction.
    bool appendAll(const std::vector<UnitRecord>& records) override;
    std::vector<UnitRecord> query(const RecordQuery& query) override;
    bool forEach(const RecordQuery& query, const RecordSink& sink) override;
    Counters counters(const std::string& jobSha256) override;
    std::optional<std::vector<JobSummary>> summary(
        const std::optional<std::string>& jobSha256) override;
    std::string location() const override { return addressForDisplay(address_); }
    // Whether the last call failed (lastError() keeps the text of the last failure).
    bool lastCallFailed() const { return failed_; }

private:
    PostgresRecordStore(pg_conn* conn, std::string address);
    struct Result;
    class Connection;
    // Makes the tables when missing and brings the schema to its version;
    // one transaction under the set-up's lock.
    bool setUp(const UpgradeProgress& progress);
    // Runs one statement; a connection the server dropped (a restart) is
    // made again once and the statement tried once more.
    Result run(const std::string& sql, const std::vector<const char*>& params, bool rows);
    // Runs one query, handing its rows to `sink` as they come; sets failed_.
    void streamRows(const std::string& sql, const std::vector<const char*>& values,
                    const RecordSink& sink, bool& handedOut);

    pg_conn* conn_;
    std::string address_;
    bool failed_ = false;
    std::unique_ptr<Connection> connection_;
};

}  // namespace sonoprog::records
