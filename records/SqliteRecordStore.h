#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "records/RecordStore.h"

struct sqlite3;

namespace sonoprog::records {

// The station's records in one SQLite file, in WAL mode so that several
// processes (one per Writer) can append while another reads, with full
// synchronous commits so that a returned append is on the disk.
class SqliteRecordStore final : public RecordStore {
public:
    // nullptr with `error` set when the file cannot be opened or set up.
    static std::unique_ptr<SqliteRecordStore> open(const std::filesystem::path& file,
                                                   std::string& error);
    ~SqliteRecordStore() override;
    SqliteRecordStore(const SqliteRecordStore&) = delete;
    SqliteRecordStore& operator=(const SqliteRecordStore&) = delete;

    bool append(const UnitRecord& record) override;
    std::vector<UnitRecord> query(const RecordQuery& query) override;
    Counters counters(const std::string& jobSha256) override;
    bool writable() override;
    std::string location() const override { return file_.string(); }

    // The database's journal mode as SQLite reports it ("wal").
    std::string journalMode();

private:
    SqliteRecordStore(sqlite3* db, std::filesystem::path file) : db_(db), file_(std::move(file)) {}
    bool exec(const char* sql);
    std::string sqliteError() const;

    sqlite3* db_;
    std::filesystem::path file_;
};

}  // namespace sonoprog::records
