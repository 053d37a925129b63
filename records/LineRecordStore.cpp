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

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::unique_ptr<LineRecordStore> LineRecordStore::open(const std::string& address,
                                                       const std::filesystem::path& localFile,
                                                       std::string& error,
                                                       const UpgradeProgress& progress) {
    if (!isServerAddress(address)) {
        error = "not a database address: " + addressForDisplay(address);
        return nullptr;
    }
    auto local = SqliteRecordStore::open(localFile, error, {false, progress});
    if (!local) return nullptr;
    sqlite3* queue = nullptr;
    if (sqlite3_open_v2(localFile.c_str(), &queue, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = "cannot open records file " + localFile.string() + ": " + sqlite3_errmsg(queue);
        sqlite3_close(queue);
        return nullptr;
    }
    std::unique_ptr<LineRecordStore> store(new LineRecordStore(std::move(local), queue, address));
    store->progress_ = progress;
    sqlite3_busy_timeout(queue, 10000);
    if (!store->queueExec("PRAGMA synchronous=FULL") || !store->queueExec(kQueueSchema)) {
        error = "cannot set up records file " + localFile.string() + ": " + store->lastError_;
        return nullptr;
    }
    // A bad address is found now, not at the first unit.
    store->haveServer();
    if (!store->server_ && store->lastError_.rfind("not a database address", 0) == 0) {
        error = store->lastError_;
        return nullptr;
    }
    return store;
}

LineRecordStore::~LineRecordStore() {
    sqlite3_close(queue_);
}

bool LineRecordStore::queueExec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(queue_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    lastError_ = message ? message : sqlite3_errmsg(queue_);
    sqlite3_free(message);
    return false;
}

bool LineRecordStore::haveServer() {
    if (server_) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextTry_) return false;
    std::string error;
    server_ = PostgresRecordStore::open(address_, error, progress_);
    if (!server_) {
        lastError_ = error;
        nextTry_ = now + retryInterval_;
    }
    return server_ != nullptr;
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
    sendWaiting();
    return true;
}

long long LineRecordStore::sendWaiting() {
    if (!haveServer()) return waiting();
    struct Waiting {
        long long seq;
        std::string record;
        long long queuedMs;
        bool stored;
    };
    std::vector<Waiting> list;
    {
        SqliteStatement s(
            queue_,
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
                lastError_ = server_->lastError();
                server_.reset();
                nextTry_ = std::chrono::steady_clock::now() + retryInterval_;
                break;
            }
        }
        if (!drop) continue;
        SqliteStatement done(queue_, "DELETE FROM line_queue WHERE seq = ?1");
        if (done) {
            done.bind(1, w.seq);
            sqlite3_step(done.get());
        }
    }
    return waiting();
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
    sendWaiting();
    if (server_) {
        auto result = ask(*server_);
        if (!server_->lastCallFailed()) {
            notice_.clear();
            return result;
        }
        lastError_ = server_->lastError();
        server_.reset();
    }
    // The server's trouble is told as a notice: the station's answer stands,
    // and only its own failure is a failure.
    notice_ = lastError_ + "; this station's own records answer instead";
    auto result = ask(*local_);
    lastError_ = local_->lastError();
    return result;
}

}  // namespace sonoprog::records
