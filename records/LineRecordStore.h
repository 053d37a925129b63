#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
//
// The sending is done by a thread of the store's own, so that a server that
// stops answering (stopped, or cut off without a reset) never holds up the
// caller: append() and the answers wait on it for a moment at most, and not
// at all once it has been found silent or the stop flag is up.
class LineRecordStore final : public RecordStore {
public:
    // nullptr with `error` set when the station's file cannot be opened or the
    // address is not a database address; an unreachable server is no error.
    // `stop` as setStopFlag() takes it, already for the first connection.
    static std::unique_ptr<LineRecordStore> open(const std::string& address,
                                                 const std::filesystem::path& localFile,
                                                 std::string& error,
                                                 const UpgradeProgress& progress = {},
                                                 const std::atomic<bool>* stop = nullptr);
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
    // The station's file: every record goes there first.
    bool writable() override;
    // The station's file: its Writers' sockets are here, and all their units
    // went through it.
    std::optional<std::vector<SocketCount>> socketCounts(
        const std::optional<std::string>& writer = std::nullopt) override {
        auto counts = local_->socketCounts(writer);
        if (!counts) lastError_ = local_->lastError();
        return counts;
    }
    bool resetSocket(const std::string& writer) override {
        if (local_->resetSocket(writer)) return true;
        lastError_ = local_->lastError();
        return false;
    }
    std::string location() const override { return addressForDisplay(address_); }
    // After a query or counters the server could not answer: says so, and
    // that the station's own records answered instead.
    std::string notice() const override { return notice_; }

    // Has the queue sent, oldest first, when the server can be had (waiting
    // a few seconds at most); returns how many records are still waiting.
    long long sendWaiting();
    long long waiting();
    // Whether the last try reached the server.
    bool serverReached() const { return reached_.load(); }
    // While `stop` is up (the loop is asked to stop), nothing waits on the
    // server: answers come from the station's file, records stay queued.
    void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
    std::filesystem::path localFile() const { return local_->location(); }
    // How long after a failed try the server is left alone (default 2 s): a
    // station without its server should not wait on a time-out every unit.
    // A new interval counts from the last failed try.
    void setRetryInterval(std::chrono::milliseconds interval) {
        std::lock_guard<std::timed_mutex> server(serverMutex_);
        nextTry_ += interval - retryInterval_;
        retryInterval_ = interval;
    }

private:
    LineRecordStore(std::unique_ptr<SqliteRecordStore> local, sqlite3* queue, sqlite3* sendQueue,
                    std::string address)
        : local_(std::move(local)),
          queue_(queue),
          sendQueue_(sendQueue),
          address_(std::move(address)) {}
    // These three with serverMutex_ held.
    bool haveServer(std::string& error);
    long long sendWaitingOn(sqlite3* queue, std::string& error);
    bool queueExec(sqlite3* db, const char* sql);
    void sendLoop();
    bool stopped() const { return stop_ && stop_->load(); }
    // Wakes the sender and waits until a round of it that saw everything
    // queued so far has ended, `limit` has passed or the stop flag is up.
    // Whether such a round ended.
    bool settle(std::chrono::milliseconds limit);
    // Asks the server, or the station's file when the server cannot answer.
    template <typename Ask>
    auto answer(Ask ask) -> decltype(ask(std::declval<RecordStore&>()));

    std::unique_ptr<SqliteRecordStore> local_;
    sqlite3* queue_;      // the same file, on its own connection
    sqlite3* sendQueue_;  // and on the sender's
    std::string address_;

    // Over the server's connection and its retry times.
    std::timed_mutex serverMutex_;
    std::unique_ptr<PostgresRecordStore> server_;
    std::chrono::milliseconds retryInterval_{2000};
    std::chrono::steady_clock::time_point nextTry_{};
    std::atomic<bool> reached_{false};
    // The server let the last try run long without an answer: not waited on
    // until it is reached again.
    std::atomic<bool> silent_{false};

    // The sender's rounds.
    std::mutex roundMutex_;
    std::condition_variable roundChanged_;
    bool wake_ = true;  // a first round at once: what an earlier run left queued
    bool busy_ = false;
    bool closing_ = false;
    unsigned long long rounds_ = 0;
    std::string roundError_;  // of the last round; empty when it sent all
    std::atomic<bool> givingUp_{false};
    std::atomic<std::thread::id> senderId_{};
    std::thread sender_;

    const std::atomic<bool>* stop_ = nullptr;
    std::string notice_;
    UpgradeProgress progress_;
};

}  // namespace sonoprog::records
