#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/RecordSummaries.h"
#include "records/UnitRecord.h"

namespace sonoprog::records {

// One Writer's socket: the units recorded on it (its chip insertions) since
// its last reset. A socket is named by the Writer as the units name it.
struct SocketCount {
    std::string writer;
    long long insertions = 0;
    std::string resetTime;  // of its last reset; empty when it never had one
    friend bool operator==(const SocketCount&, const SocketCount&) = default;
};

// Where the units of a station (or a line) are recorded. Every store keeps
// the same fields and answers the same queries; failures are results, the
// text of the last one is in lastError().
class RecordStore {
public:
    virtual ~RecordStore() = default;

    // Stores the record durably before returning true: a crash or a pulled
    // cable after that never loses it. A record whose id is already stored is
    // not stored again (and counts as success), so a resend never counts twice.
    virtual bool append(const UnitRecord& record) = 0;

    // The same for several records in one go (one transaction where the
    // store has them); false at the first that could not be stored.
    virtual bool appendAll(const std::vector<UnitRecord>& records);

    // The matching records, oldest first. An empty list on failure (lastError() says why).
    virtual std::vector<UnitRecord> query(const RecordQuery& query) = 0;

    // The matching records, oldest first, handed to `sink` one at a time as
    // they are read, so that memory does not grow with the records; `sink`
    // returns false to stop early. False on failure (lastError() says why),
    // possibly after some records were handed out. The record handed out is
    // valid during the call only.
    using RecordSink = std::function<bool(const UnitRecord&)>;
    virtual bool forEach(const RecordQuery& query, const RecordSink& sink);

    // The unit records of the job after its last reset record.
    virtual Counters counters(const std::string& jobSha256) = 0;

    // Every job (or the one asked), in the order the jobs first appear in
    // the records, with its counters since its last reset and its failures.
    // nullopt on failure (lastError() says why).
    virtual std::optional<std::vector<JobSummary>> summary(
        const std::optional<std::string>& jobSha256);
    // Whether a record can be stored now: a unit's record written and taken
    // back, so that a store that cannot be written is found before a chip
    // is programmed rather than after (lastError() says why not).
    virtual bool writable() { return true; }

    // Every socket counted (or the one Writer asked, none when it has no
    // count yet), by Writer. nullopt on failure, or when the store keeps no
    // counts (lastError() says which).
    virtual std::optional<std::vector<SocketCount>> socketCounts(
        const std::optional<std::string>& writer = std::nullopt);
    // A new socket on `writer`: its count starts again from 0, and the reset
    // is kept (socket_resets: when, where, and the count it ended) in the
    // same transaction.
    virtual bool resetSocket(const std::string& writer);

    // Where the records go, for messages ("/home/op/.local/state/sonoprog/records.sqlite").
    virtual std::string location() const = 0;

    const std::string& lastError() const { return lastError_; }

    // A remark on the last answer that is no failure (the answer came from
    // somewhere other than asked); empty when there is none.
    virtual std::string notice() const { return {}; }

protected:
    std::string lastError_;
};

// The counters of a list of records: units after the last reset.
Counters countSinceReset(const std::vector<UnitRecord>& jobRecords);

// The summary of a list of records, oldest first, as RecordStore::summary
// answers it (the stores answer from the summaries their databases keep).
std::vector<JobSummary> summariseRecords(const std::vector<UnitRecord>& records);

// Appends a reset record for the job (built from `base`: station, operator,
// job and image fields) and returns whether it was stored.
bool resetCounters(RecordStore& store, UnitRecord base);

// $XDG_STATE_HOME/sonoprog/records.sqlite (or under ~/.local/state); empty
// when no state folder is known.
std::filesystem::path defaultRecordsPath(const char* xdgStateHome, const char* home);

// What the opening of a store may do besides opening it.
struct OpenOptions {
    // A reading command: a records file that is not there is an error, and
    // neither it nor its folders are made.
    bool mustExist = false;
    // Told while the summaries of a store made by an earlier version are
    // built (once, when it is first opened).
    UpgradeProgress progress;
    // While it is up, a line's database is waited on no more, from the
    // opening on (see setStopFlag()).
    const std::atomic<bool>* stop = nullptr;
};

// Opens the store a --records value or [Records] Database names: a file path
// is a SQLite store, made with its folders when missing; a postgresql://
// address is the line's database, reached through the station's own file
// `stationFile` (records wait there while the server is away); empty is the
// station's file alone. nullptr with `error` set when it cannot be opened.
std::unique_ptr<RecordStore> openRecordStore(const std::string& location,
                                             const std::filesystem::path& stationFile,
                                             std::string& error, const OpenOptions& options = {});

// While `stop` is up, a store that sends on to a server waits on it no more
// (the loop is stopping); nothing for other stores.
void setStopFlag(RecordStore& store, const std::atomic<bool>& stop);

// How many records wait to be sent to the line's database: 0 for a store
// that sends nothing on.
long long recordsWaiting(RecordStore& store);

}  // namespace sonoprog::records
