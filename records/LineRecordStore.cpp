#include "records/LineRecordStore.h"

#include <sqlite3.h>

#include "records/RecordFormat.h"
#include "records/SqliteStatement.h"

namespace sonoprog::records {

namespace {

// The queue of records the server has not got yet, kept beside the station's
// units in the same file. The whole record travels in it, so sending needs
// nothing else.
constexpr const char* kQueueSchema =
    "CREATE TABLE IF NOT EXISTS line_queue ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " id TEXT NOT NULL UNIQUE,"
    " record TEXT NOT NULL,"
    " queued_ms INTEGER NOT NULL)";

// A queued record is put in the queue before the station's units table, so
// that a crash between the two never leaves a unit that no one sends. One
// without its unit is still being written by another worker, or was left by
// a crash: after this long it is dropped.
constexpr long long kOrphanAfterMs = 60 * 1000;

// How long append() gives the sender to pass a record on before it returns
// (the server usually has it by then), and how long an answer waits for the
// queue to go first. Neither waits on a server found silent.
constexpr std::chrono::milliseconds kHandOver{1000};
constexpr std::chrono::milliseconds kAnswerWait{2000};
// How long an answer waits for the sender to let go of the server.
constexpr std::chrono::milliseconds kServerWait{200};
// The sender looks at the queue this often, so that records left waiting go
// once the server is back even when no unit comes.
constexpr std::chrono::milliseconds kSendPeriod{1000};

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::unique_ptr<LineRecordStore> LineRecordStore::open(const std::string& address,
                                                       const std::filesystem::path& localFile,
                                                       std::string& error,
                                                       const UpgradeProgress& progress,
                                                       const std::atomic<bool>* stop) {
    if (!isServerAddress(address)) {
        error = "not a database address: " + addressForDisplay(address);
        return nullptr;
    }
    auto local = SqliteRecordStore::open(localFile, error, {false, progress});
    if (!local) return nullptr;
    sqlite3* queue = nullptr;
    sqlite3* sendQueue = nullptr;
    for (sqlite3** db : {&queue, &sendQueue}) {
        if (sqlite3_open_v2(localFile.c_str(), db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK) {
            error = "cannot open records file " + localFile.string() + ": " + sqlite3_errmsg(*db);
            sqlite3_close(queue);
            sqlite3_close(sendQueue);
            return nullptr;
        }
        sqlite3_busy_timeout(*db, 10000);
    }
    std::unique_ptr<LineRecordStore> store(
        new LineRecordStore(std::move(local), queue, sendQueue, address));
    store->progress_ = progress;
    store->stop_ = stop;
    if (!store->queueExec(queue, "PRAGMA synchronous=FULL") ||
        !store->queueExec(sendQueue, "PRAGMA synchronous=FULL") ||
        !store->queueExec(queue, kQueueSchema)) {
        error = "cannot set up records file " + localFile.string() + ": " + store->lastError_;
        return nullptr;
    }
    // A bad address is found now, not at the first unit.
    {
        std::lock_guard<std::timed_mutex> server(store->serverMutex_);
        if (!store->haveServer(store->lastError_) &&
            store->lastError_.rfind("not a database address", 0) == 0) {
            error = store->lastError_;
            return nullptr;
        }
    }
    store->sender_ = std::thread(&LineRecordStore::sendLoop, store.get());
    return store;
}

LineRecordStore::~LineRecordStore() {
    if (sender_.joinable()) {
        std::unique_lock<std::mutex> lock(roundMutex_);
        // The last records a moment to go, unless the server is silent.
        const auto until = std::chrono::steady_clock::now() + kHandOver / 2;
        while (!silent_.load() && (busy_ || wake_) &&
               roundChanged_.wait_until(lock, until) != std::cv_status::timeout) {
        }
        closing_ = true;
        givingUp_ = true;
        lock.unlock();
        roundChanged_.notify_all();
        sender_.join();
    }
    server_.reset();
    sqlite3_close(sendQueue_);
    sqlite3_close(queue_);
}

bool LineRecordStore::queueExec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    lastError_ = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

bool LineRecordStore::haveServer(std::string& error) {
    if (server_) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextTry_) return false;
    // The sender gives up when the store closes; a caller also when the loop stops.
    server_ = PostgresRecordStore::open(address_, error, progress_, [this] {
        return givingUp_.load() || (std::this_thread::get_id() != senderId_ && stopped());
    });
    reached_ = server_ != nullptr;
    if (server_) silent_ = false;
    if (!server_) nextTry_ = now + retryInterval_;
    return server_ != nullptr;
}

void LineRecordStore::sendLoop() {
    std::unique_lock<std::mutex> lock(roundMutex_);
    senderId_ = std::this_thread::get_id();
    while (!closing_) {
        if (!wake_) roundChanged_.wait_for(lock, kSendPeriod, [this] { return wake_ || closing_; });
        if (closing_) break;
        wake_ = false;
        busy_ = true;
        lock.unlock();
        std::string error;
        const auto started = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::timed_mutex> server(serverMutex_);
            sendWaitingOn(sendQueue_, error);
        }
        // A server that refuses at once is worth the next wait; one that let
        // a round run this long without getting anywhere is not.
        if (!error.empty()) silent_ = std::chrono::steady_clock::now() - started >= kHandOver;
        lock.lock();
        busy_ = false;
        ++rounds_;
        roundError_ = error;
        roundChanged_.notify_all();
    }
}

bool LineRecordStore::settle(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(roundMutex_);
    // A round already under way may have read the queue before the caller's
    // last record: the one after it is what counts.
    const unsigned long long enough = rounds_ + (busy_ ? 2 : 1);
    wake_ = true;
    roundChanged_.notify_all();
    const auto until = std::chrono::steady_clock::now() + limit;
    while (rounds_ < enough && !stopped() && std::chrono::steady_clock::now() < until)
        roundChanged_.wait_for(lock, std::chrono::milliseconds(50));
    if (rounds_ < enough) return false;
    if (!roundError_.empty()) lastError_ = roundError_;
    return true;
}

bool LineRecordStore::append(const UnitRecord& record) {
    {
        SqliteStatement queued(queue_,
                               "INSERT INTO line_queue (id, record, queued_ms) VALUES (?1, ?2, ?3) "
                               "ON CONFLICT (id) DO NOTHING");
        if (!queued) {
            lastError_ = sqlite3_errmsg(queue_);
            return false;
        }
        queued.bind(1, record.id);
        queued.bind(2, recordJsonLine(record));
        queued.bind(3, nowMs());
        if (sqlite3_step(queued.get()) != SQLITE_DONE) {
            lastError_ = sqlite3_errmsg(queue_);
            return false;
        }
    }
    if (!local_->append(record)) {
        lastError_ = local_->lastError();
        return false;
    }
    // The unit is safe in the station's file; the server gets it now or later.
    settle(silent_.load() ? std::chrono::milliseconds(0) : kHandOver);
    return true;
}

long long LineRecordStore::sendWaiting() {
    settle(kAnswerWait + kAnswerWait);
    return waiting();
}

long long LineRecordStore::sendWaitingOn(sqlite3* queue, std::string& error) {
    {
        // Nothing queued: the server is left alone.
        SqliteStatement s(queue, "SELECT COUNT(*) FROM line_queue");
        if (s && sqlite3_step(s.get()) == SQLITE_ROW && sqlite3_column_int64(s.get(), 0) == 0)
            return 0;
    }
    if (!haveServer(error)) return -1;
    struct Waiting {
        long long seq;
        std::string record;
        long long queuedMs;
        bool stored;
    };
    std::vector<Waiting> list;
    {
        SqliteStatement s(
            queue,
            "SELECT seq, record, queued_ms, EXISTS (SELECT 1 FROM units WHERE units.id = "
            "line_queue.id) FROM line_queue ORDER BY seq");
        while (s && sqlite3_step(s.get()) == SQLITE_ROW)
            list.push_back({sqlite3_column_int64(s.get(), 0), s.text(1),
                            sqlite3_column_int64(s.get(), 2), sqlite3_column_int(s.get(), 3) != 0});
    }
    for (const auto& w : list) {
        bool drop = false;
        if (!w.stored) {
            drop = nowMs() - w.queuedMs > kOrphanAfterMs;
        } else {
            auto record = recordFromJson(w.record);
            if (!record) {
                drop = true;  // only ever written by append(); kept from blocking the rest
            } else if (server_->append(*record)) {
                drop = true;
            } else {
                error = server_->lastError();
                server_.reset();
                reached_ = false;
                nextTry_ = std::chrono::steady_clock::now() + retryInterval_;
                break;
            }
        }
        if (!drop) continue;
        SqliteStatement done(queue, "DELETE FROM line_queue WHERE seq = ?1");
        if (done) {
            done.bind(1, w.seq);
            sqlite3_step(done.get());
        }
    }
    return -1;
}

bool LineRecordStore::writable() {
    if (local_->writable()) return true;
    lastError_ = local_->location() + ": " + local_->lastError();
    return false;
}

long long LineRecordStore::waiting() {
    SqliteStatement s(queue_, "SELECT COUNT(*) FROM line_queue");
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return -1;
    return sqlite3_column_int64(s.get(), 0);
}

std::vector<UnitRecord> LineRecordStore::query(const RecordQuery& q) {
    return answer([&](RecordStore& store) { return store.query(q); });
}

bool LineRecordStore::forEach(const RecordQuery& q, const RecordSink& sink) {
    bool handedOut = false;
    const auto counting = [&](const UnitRecord& r) {
        handedOut = true;
        return sink(r);
    };
    sendWaiting();
    if (server_) {
        if (server_->forEach(q, counting)) {
            notice_.clear();
            lastError_.clear();
            return true;
        }
        lastError_ = server_->lastError();
        server_.reset();
        if (handedOut) return false;
    }
    notice_ = lastError_ + "; this station's own records answer instead";
    const bool ok = local_->forEach(q, sink);
    lastError_ = local_->lastError();
    return ok;
}

Counters LineRecordStore::counters(const std::string& jobSha256) {
    return answer([&](RecordStore& store) { return store.counters(jobSha256); });
}

std::optional<std::vector<JobSummary>> LineRecordStore::summary(
    const std::optional<std::string>& jobSha256) {
    return answer([&](RecordStore& store) { return store.summary(jobSha256); });
}

template <typename Ask>
auto LineRecordStore::answer(Ask ask) -> decltype(ask(std::declval<RecordStore&>())) {
    // The queue first, so that the server's answer holds this station's units.
    if (!silent_.load() && !stopped()) settle(kAnswerWait);
    std::unique_lock<std::timed_mutex> server(serverMutex_, std::defer_lock);
    if (stopped() || !server.try_lock_for(kServerWait)) {
        lastError_ = "the records database " + addressForDisplay(address_) + " is not answering";
    } else if (server_) {
        auto result = ask(*server_);
        if (!server_->lastCallFailed()) {
            notice_.clear();
            return result;
        }
        lastError_ = server_->lastError();
        server_.reset();
        reached_ = false;
    }
    // The server's trouble is told as a notice: the station's answer stands,
    // and only its own failure is a failure.
    notice_ = lastError_ + "; this station's own records answer instead";
    auto result = ask(*local_);
    lastError_ = local_->lastError();
    return result;
}

}  // namespace sonoprog::records
