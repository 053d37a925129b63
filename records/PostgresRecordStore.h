#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "records/DatabaseAddress.h"
#include "records/RecordStore.h"

struct pg_conn;

namespace sonoprog::records {

// A line's records in one PostgreSQL database, through libpq: the same table
// and fields as the station's file, so every command reads it alike. Many
// stations and many worker processes append at once; a record id already
// there is not stored again.
//
// No call waits on the server for ever: a server that is stopped, or cut off
// by a network that sends no reset, still takes the connection and the
// statement and never answers, which no keepalive notices. So every wait is
// bounded by a time without a word from the server, and by `giveUp`.
class PostgresRecordStore final : public RecordStore {
public:
    // Asked while waiting on the server: true ends the wait (as a failure).
    using GiveUp = std::function<bool()>;

    // Connects and makes the table when it is missing; nullptr with `error`
    // set when the server cannot be reached or the address is not one.
    static std::unique_ptr<PostgresRecordStore> open(const std::string& address, std::string& error,
                                                     const UpgradeProgress& progress = {},
                                                     GiveUp giveUp = {});
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
    std::optional<std::vector<SocketCount>> socketCounts(
        const std::optional<std::string>& writer = std::nullopt) override;
    bool resetSocket(const std::string& writer) override;
    std::string location() const override { return addressForDisplay(address_); }
    // The statement append() runs for each record.
    static std::string insertStatement();
    // Whether the last call failed (lastError() keeps the text of the last failure).
    bool lastCallFailed() const { return failed_; }

    // How long a statement or a connection may go without a word from the
    // server before it is given up (default 5 s; 30 s for query()'s answers,
    // which a large table takes its time over).
    void setQuietLimit(std::chrono::milliseconds limit) { quietLimit_ = limit; }

private:
    PostgresRecordStore(pg_conn* conn, std::string address, GiveUp giveUp);
    struct Result;
    class Connection;
    // Makes the tables when missing and brings the schema to its version;
    // one transaction under the set-up's lock.
    bool setUp(const UpgradeProgress& progress);
    // Runs one statement; a connection the server dropped (a restart) is
    // made again once and the statement tried once more. A server that did
    // not answer in time is not asked again: its connection is let go.
    Result run(const std::string& sql, const std::vector<const char*>& params, bool rows,
               std::chrono::milliseconds quietLimit);
    Result run(const std::string& sql, const std::vector<const char*>& params, bool rows);
    // Runs one query, handing its rows to `sink` as they come; sets failed_.
    void streamRows(const std::string& sql, const std::vector<const char*>& values,
                    const RecordSink& sink, bool& handedOut);

    pg_conn* conn_;
    std::string address_;
    GiveUp giveUp_;
    std::chrono::milliseconds quietLimit_{5000};
    bool failed_ = false;
    std::unique_ptr<Connection> connection_;
};

}  // namespace sonoprog::records
