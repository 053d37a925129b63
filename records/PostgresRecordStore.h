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

    // How long a statement may go without a word from the server before it
    // is given up (default 5 s), and the rows of query() and forEach(), which
    // a large table takes its time over (default 30 s, never less than the
    // statements'). A connection is given 5 s.
    void setQuietLimit(std::chrono::milliseconds statements,
                       std::chrono::milliseconds answers = std::chrono::seconds(30)) {
        quietLimit_ = statements;
        answersQuietLimit_ = answers;
    }

private:
    PostgresRecordStore(pg_conn* conn, std::string address, GiveUp giveUp);
    struct Result;
    class Connection;
    // Makes the tables when missing and brings the schema to its version;
    // one transaction under the set-up's lock.
    bool setUp(const UpgradeProgress& progress);
    // How one try of a statement ended.
    enum class Outcome {
        Done,
        Refused,  // by the server, on a connection still good
        Lost,     // the connection broke or the server fell quiet
        GivenUp,  // the caller gave up the wait
        Partial,  // lost after rows were handed out
    };
    // The one rule for every statement and every stream of rows: a
    // connection that broke (a restart) or fell quiet (a server stopped, a
    // network cut without a reset) is let go, made again once, and the
    // statement sent once more on it, each wait bounded as the first's. Never
    // again: a statement the server refused, a wait the caller gave up, rows
    // already handed out, or a statement inside a transaction (which went
    // with its connection). `attempt` sets `why` when it does not end Done.
    template <typename Attempt>
    bool withReconnect(const Attempt& attempt, std::string& why);
    // Runs one statement under that rule; sets failed_ and lastError_.
    Result run(const std::string& sql, const std::vector<const char*>& params, bool rows,
               std::chrono::milliseconds quietLimit);
    Result run(const std::string& sql, const std::vector<const char*>& params, bool rows);
    // One try of a query, handing its rows to `sink` as they come.
    Outcome streamRows(const std::string& sql, const std::vector<const char*>& values,
                       const RecordSink& sink, bool& handedOut, std::string& why);

    pg_conn* conn_;
    std::string address_;
    GiveUp giveUp_;
    std::chrono::milliseconds quietLimit_{5000};
    std::chrono::milliseconds answersQuietLimit_{30000};
    bool failed_ = false;
    std::unique_ptr<Connection> connection_;
};

}  // namespace sonoprog::records
