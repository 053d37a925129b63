#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "records/RecordStore.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sonoprog::records {

// The station's records in one SQLite file, in WAL mode so that several
// processes (one per Writer) can append while another reads, with full
// synchronous commits so that a returned append is on the disk. The file
// keeps its own summaries (per hour, per job) by a trigger, so that neither
// a unit nor a summary reads the whole table; a file made before them gets
// them when it is first opened.
class SqliteRecordStore final : public RecordStore {
public:
    // nullptr with `error` set when the file cannot be opened or set up.
    static std::unique_ptr<SqliteRecordStore> open(const std::filesystem::path& file,
                                                   std::string& error,
                                                   const OpenOptions& options = {});
    ~SqliteRecordStore() override;
    SqliteRecordStore(const SqliteRecordStore&) = delete;
    SqliteRecordStore& operator=(const SqliteRecordStore&) = delete;

    bool append(const UnitRecord& record) override;
    // In one transaction, through the same statement as append().
    bool appendAll(const std::vector<UnitRecord>& records) override;
    std::vector<UnitRecord> query(const RecordQuery& query) override;
    bool forEach(const RecordQuery& query, const RecordSink& sink) override;
    Counters counters(const std::string& jobSha256) override;
    std::optional<std::vector<JobSummary>> summary(
        const std::optional<std::string>& jobSha256) override;
    bool writable() override;
    std::optional<std::vector<SocketCount>> socketCounts(
        const std::optional<std::string>& writer = std::nullopt) override;
    bool resetSocket(const std::string& writer) override;
    std::string location() const override { return file_.string(); }

    // The statement append() runs for each record.
    static std::string insertStatement();

    // The database's journal mode as SQLite reports it ("wal").
    std::string journalMode();
    // The schema version of the file (kSchemaVersion once opened).
    int schemaVersion();

private:
    class Connection;
    SqliteRecordStore(sqlite3* db, std::filesystem::path file);
    bool exec(const char* sql);
    bool setUp(const OpenOptions& options);
    bool insert(const UnitRecord& record);
    std::string sqliteError() const;

    sqlite3* db_;
    std::filesystem::path file_;
    std::unique_ptr<Connection> connection_;
    sqlite3_stmt* insert_ = nullptr;  // prepared once: a unit costs no parse
    std::mutex insertLock_;
};

}  // namespace sonoprog::records
