#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "records/PostgresRecordStore.h"
#include "records/SqliteRecordStore.h"

struct sqlite3;

namespace sonoprog::records {

// A station on a line: every record goes first into the station's own file
// (so a unit is never held up or lost by the network), is queued there, and
// is sent on to the line's server; while the server cannot be reached the
// queue grows and the station keeps programming. A record sent twice (a crash
// between the send and taking it off the queue, two workers sending the same
// queue) is kept once by the server, which knows it by its id.
class LineRecordStore final : public RecordStore {
public:
    // nullptr with `error` set when the station's file cannot be opened or the
    // address is not a database address; an unreachable server is no error.
    static std::unique_ptr<LineRecordStore> open(const std::string& address,
                                                 const std::filesystem::path& localFile,
                                                 std::string& error,
                                                 const UpgradeProgress& progress = {});
    ~LineRecordStore() override;
    LineRecordStore(const LineRecordStore&) = delete;
    LineRecordStore& operator=(const LineRecordStore&) = delete;

    // In the station's file and its queue before returning; then the queue is sent.
    bool append(const UnitRecord& record) override;
    // The server's records (the whole line) once the queue is sent; the
    // station's own file while the server cannot be reached.
    std::vector<UnitRecord> query(const RecordQuery& query) override;
    // From the server as it reads them; from the station's file when the
    // server cannot be had (or fails before the first record: once records
    // are out, a failure is a failure).
    bool forEach(const RecordQuery& query, const RecordSink& sink) override;
    Counters counters(const std::string& jobSha256) override;
    std::optional<std::vector<JobSummary>> summary(
        const std::optional<std::string>& jobSha256) override;
    std::string location() const override { return addressForDisplay(address_); }
    // After a query or counters the server could not answer: says so, and
    // that the station's own records answered instead.
    std::string notice() const override { return notice_; }

    // Sends the queue, oldest first, when the server can be had; returns how
    // many records are still waiting.
    long long sendWaiting();
    long long waiting();
    // Whether the last try reached the server.
    bool serverReached() const { return server_ != nullptr; }
    std::filesystem::path localFile() const { return local_->location(); }
    // How long after a failed try the server is left alone (default 2 s): a
    // station without its server should not wait on a time-out every unit.
    // A new interval counts from the last failed try.
    void setRetryInterval(std::chrono::milliseconds interval) {
        nextTry_ += interval - retryInterval_;
        retryInterval_ = interval;
    }

private:
    LineRecordStore(std::unique_ptr<SqliteRecordStore> local, sqlite3* queue, std::string address)
        : local_(std::move(local)), queue_(queue), address_(std::move(address)) {}
    bool haveServer();
    bool queueExec(const char* sql);
    // Asks the server, or the station's file when the server cannot answer.
    template <typename Ask>
    auto answer(Ask ask) -> decltype(ask(std::declval<RecordStore&>()));

    std::unique_ptr<SqliteRecordStore> local_;
    sqlite3* queue_;  // the same file, on its own connection
    std::string address_;
    std::unique_ptr<PostgresRecordStore> server_;
    std::chrono::milliseconds retryInterval_{2000};
    std::chrono::steady_clock::time_point nextTry_{};
    std::string notice_;
    UpgradeProgress progress_;
};

}  // namespace sonoprog::records
