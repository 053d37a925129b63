#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <regex>
#include <set>
#include <thread>

#include "records/RecordSchema.h"
#include "records/RecordStore.h"
#include "records/RecordSummaries.h"
#include "records/SqliteRecordStore.h"
#include "records/SqliteStatement.h"
#include "tests/records/RecordsFixture.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {
namespace {

using records::Counters;
using records::RecordQuery;
using records::SqliteRecordStore;
using records::UnitRecord;

std::unique_ptr<SqliteRecordStore> openStore(const std::filesystem::path& file) {
    std::string error;
    auto store = SqliteRecordStore::open(file, error);
    EXPECT_TRUE(store) << error;
    return store;
}

UnitRecord unit(const std::string& id, const std::string& time, std::string_view result,
                const std::string& job = std::string(64, 'a')) {
    UnitRecord r = fullRecord(id, time, result);
    r.jobSha256 = job;
    return r;
}

TEST(SqliteRecordStore, KeepsEveryFieldInWalMode) {
    TempDir dir;
    auto store = openStore(dir / "records.sqlite");
    ASSERT_TRUE(store);
    EXPECT_EQ(store->journalMode(), "wal");
    const UnitRecord failed = fullRecord("id-1", "2026-12-08T10:11:12.345Z");
    UnitRecord passed = fullRecord("id-2", "2026-12-08T10:11:13.000Z", records::kResultPass);
    passed.target = "serialflash";
    passed.device = "W25Q80";
    passed.mirrored.clear();
    ASSERT_TRUE(store->append(failed)) << store->lastError();
    ASSERT_TRUE(store->append(passed)) << store->lastError();

    // A second connection, as another process would read it.
    auto reader = openStore(dir / "records.sqlite");
    const auto all = reader->query({});
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], failed);
    EXPECT_EQ(all[1], passed);
}

TEST(SqliteRecordStore, ResentRecordIsStoredOnce) {
    TempDir dir;
    auto store = openStore(dir / "r.sqlite");
    const UnitRecord r = unit("same-id", "2026-12-08T10:00:00.000Z", records::kResultPass);
    ASSERT_TRUE(store->append(r));
    UnitRecord changed = r;
    changed.result = "fail";  // a resend never overwrites what the station recorded first
    EXPECT_TRUE(store->append(changed));
    const auto all = store->query({});
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].result, "pass");
    EXPECT_EQ(store->counters(r.jobSha256), (Counters{1, 0}));
}

TEST(SqliteRecordStore, RefusesAResultItDoesNotKnow) {
    TempDir dir;
    auto store = openStore(dir / "r.sqlite");
    UnitRecord r = unit("x", "2026-12-08T10:00:00.000Z", records::kResultPass);
    r.result = "maybe";
    EXPECT_FALSE(store->append(r));
    EXPECT_FALSE(store->lastError().empty());
    EXPECT_TRUE(store->query({}).empty());
}

TEST(SqliteRecordStore, QueryFiltersByJobAndTime) {
    TempDir dir;
    auto store = openStore(dir / "r.sqlite");
    const std::string jobA(64, 'a'), jobB(64, 'b');
    ASSERT_TRUE(store->append(unit("1", "2026-12-08T09:00:00.000Z", "pass", jobA)));
    ASSERT_TRUE(store->append(unit("2", "2026-12-08T10:00:00.000Z", "fail", jobB)));
    ASSERT_TRUE(store->append(unit("3", "2026-12-08T11:00:00.000Z", "pass", jobA)));
    // Out of time order on purpose: results come back oldest first.
    ASSERT_TRUE(store->append(unit("0", "2026-12-07T23:59:59.999Z", "pass", jobA)));

    auto ids = [](const std::vector<UnitRecord>& rs) {
        std::vector<std::string> out;
        for (const auto& r : rs) out.push_back(r.id);
        return out;
    };
    EXPECT_EQ(ids(store->query({})), (std::vector<std::string>{"0", "1", "2", "3"}));
    EXPECT_EQ(ids(store->query(RecordQuery{jobA, std::nullopt})),
              (std::vector<std::string>{"0", "1", "3"}));
    EXPECT_EQ(ids(store->query(RecordQuery{std::nullopt, "2026-12-08T10:00:00.000Z"})),
              (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(ids(store->query(RecordQuery{jobA, "2026-12-08T00:00:00.000Z"})),
              (std::vector<std::string>{"1", "3"}));
}

TEST(SqliteRecordStore, CountersStartAfterTheLastResetAndSurviveReopening) {
    TempDir dir;
    const std::string job(64, 'c'), other(64, 'd');
    {
        auto store = openStore(dir / "r.sqlite");
        ASSERT_TRUE(store->append(unit("1", "2026-12-08T09:00:00.000Z", "pass", job)));
        ASSERT_TRUE(store->append(unit("2", "2026-12-08T09:01:00.000Z", "fail", job)));
        EXPECT_EQ(store->counters(job), (Counters{1, 1}));
        ASSERT_TRUE(store->append(unit("r1", "2026-12-08T09:02:00.000Z", "reset", job)));
        EXPECT_EQ(store->counters(job), (Counters{0, 0}));
        ASSERT_TRUE(store->append(unit("3", "2026-12-08T09:03:00.000Z", "pass", job)));
        ASSERT_TRUE(store->append(unit("4", "2026-12-08T09:04:00.000Z", "pass", job)));
        ASSERT_TRUE(store->append(unit("5", "2026-12-08T09:05:00.000Z", "fail", job)));
        ASSERT_TRUE(store->append(unit("6", "2026-12-08T09:05:00.000Z", "fail", other)));
    }
    auto store = openStore(dir / "r.sqlite");
    const Counters c = store->counters(job);
    EXPECT_EQ(c, (Counters{2, 1}));
    EXPECT_EQ(records::yieldText(c), "66.7");
    EXPECT_EQ(store->counters(other), (Counters{0, 1}));
    EXPECT_EQ(store->counters(std::string(64, 'e')), (Counters{}));
    // The store's own count and the count over its records agree.
    EXPECT_EQ(records::countSinceReset(store->query(RecordQuery{job, std::nullopt})), c);

    // A reset made now is itself a record of the job.
    UnitRecord base = unit("", "", "pass", job);
    ASSERT_TRUE(records::resetCounters(*store, base));
    EXPECT_EQ(store->counters(job), (Counters{}));
    const auto all = store->query(RecordQuery{job, std::nullopt});
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(all.back().result, "reset");
    EXPECT_EQ(all.back().failLine, "");
    EXPECT_TRUE(all.back().mirrored.empty());
    EXPECT_EQ(all.back().operatorName, base.operatorName);
}

TEST(SqliteRecordStore, TwoConnectionsAppendAtOnce) {
    TempDir dir;
    auto a = openStore(dir / "r.sqlite");
    auto b = openStore(dir / "r.sqlite");
    const std::string job(64, 'f');
    std::thread other([&] {
        for (int i = 0; i < 50; ++i)
            EXPECT_TRUE(
                b->append(unit(records::newRecordId(), records::utcTimeNow(), "fail", job)));
    });
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(a->append(unit(records::newRecordId(), records::utcTimeNow(), "pass", job)));
    other.join();
    EXPECT_EQ(a->counters(job), (Counters{50, 50}));
}

TEST(SqliteRecordStore, OpenFailsOnAFolderInsteadOfAFile) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(SqliteRecordStore::open(dir.path(), error));
    EXPECT_NE(error.find(dir.path().string()), std::string::npos) << error;
}

TEST(RecordStore, OpenMakesTheMissingFoldersAndTheDefaultPathFollowsXdg) {
    TempDir dir;
    std::string error;
    const auto file = dir / "state/sonoprog/records.sqlite";
    auto store = records::openRecordStore(file.string(), dir / "unused.sqlite", error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->location(), file.string());
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(dir / "unused.sqlite"));
    EXPECT_EQ(records::recordsWaiting(*store), 0);
    // No location: the station's own file.
    const auto station = dir / "station/records.sqlite";
    ASSERT_TRUE(records::openRecordStore("", station, error)) << error;
    EXPECT_TRUE(std::filesystem::exists(station));

    EXPECT_EQ(records::defaultRecordsPath("/x/state", "/home/op"),
              std::filesystem::path("/x/state/sonoprog/records.sqlite"));
    EXPECT_EQ(records::defaultRecordsPath("relative", "/home/op"),
              std::filesystem::path("/home/op/.local/state/sonoprog/records.sqlite"));
    EXPECT_TRUE(records::defaultRecordsPath(nullptr, nullptr).empty());
    EXPECT_FALSE(records::openRecordStore("", {}, error));
    EXPECT_FALSE(records::openRecordStore("postgresql://line-db/records", {}, error));
    EXPECT_NE(error.find("postgresql://line-db/records"), std::string::npos) << error;
}

// A process killed at any moment while appending leaves whole records only:
// the database passes its integrity check and every stored row has every field.
TEST(SqliteRecordStore, KilledWriterNeverLeavesAHalfRecord) {
    TempDir dir;
    const auto file = dir / "r.sqlite";
    { ASSERT_TRUE(openStore(file)); }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto store = SqliteRecordStore::open(file, error);
        if (!store) _exit(3);
        for (int i = 0;; ++i)
            store->append(fullRecord("kill-" + std::to_string(i), records::utcTimeNow()));
    }
    // Let it write a while, then kill it without warning.
    auto store = openStore(file);
    for (int i = 0; i < 400 && store->query({}).size() < 20; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);

    auto after = openStore(file);
    const auto all = after->query({});
    ASSERT_GE(all.size(), 20u);
    for (const auto& r : all) {
        UnitRecord expected = fullRecord(r.id, r.time);
        EXPECT_EQ(r, expected);
        EXPECT_EQ(r.id.rfind("kill-", 0), 0u);
    }
}

TEST(SqliteRecordStore, SummariesAgreeWithTheRecordsHoweverTheyArrive) {
    for (const auto& [name, records] : lineHistories()) {
        SCOPED_TRACE(name);
        const std::size_t half = records.size() / 2;
        // Through the store's own appends, into a new file: nothing to
        // upgrade there, and nothing told.
        {
            TempDir dir;
            std::string error;
            bool told = false;
            auto store = SqliteRecordStore::open(
                dir / "new.sqlite", error, {false, [&](long long, long long) { told = true; }});
            ASSERT_TRUE(store) << error;
            EXPECT_FALSE(told);
            EXPECT_EQ(store->schemaVersion(), records::kSchemaVersion);
            for (const auto& r : records) ASSERT_TRUE(store->append(r)) << store->lastError();
            expectSummariesMatchRecords(*store);
        }
        // A file of the earlier schema with half the records, upgraded when
        // opened; then the rest from the store and from another client.
        TempDir dir;
        sqlite3* old = nullptr;
        ASSERT_EQ(sqlite3_open((dir / "old.sqlite").c_str(), &old), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(old, kUnitsOnlySchema.c_str(), nullptr, nullptr, nullptr),
                  SQLITE_OK);
        for (std::size_t i = 0; i < half; ++i) insertRaw(old, records[i]);
        std::vector<std::pair<long long, long long>> progress;
        std::string error;
        auto store = SqliteRecordStore::open(
            dir / "old.sqlite", error,
            {true, [&](long long done, long long total) { progress.emplace_back(done, total); }});
        ASSERT_TRUE(store) << error;
        EXPECT_EQ(store->schemaVersion(), records::kSchemaVersion);
        if (half > 0) {
            ASSERT_FALSE(progress.empty());
            EXPECT_EQ(progress.back(), (std::pair<long long, long long>(half, half)));
        }
        EXPECT_EQ(store->query({}).size(), half);
        expectSummariesMatchRecords(*store);
        for (std::size_t i = half; i < records.size(); ++i) {
            if (i % 2)
                insertRaw(old, records[i]);
            else
                ASSERT_TRUE(store->append(records[i])) << store->lastError();
        }
        sqlite3_close(old);
        EXPECT_EQ(store->query({}).size(), records.size());
        expectSummariesMatchRecords(*store);
    }
}

TEST(SqliteRecordStore, SummaryCountsFailuresSinceTheResetInTheOrderTheyFirstHappened) {
    TempDir dir;
    auto store = openStore(dir / "r.sqlite");
    const auto records = lineHistories()[1].second;
    ASSERT_TRUE(store->appendAll(records)) << store->lastError();
    const auto summary = store->summary(records[0].jobSha256);
    ASSERT_TRUE(summary) << store->lastError();
    ASSERT_EQ(summary->size(), 1u);
    EXPECT_EQ(summary->front().counters, (Counters{1, 4}));
    EXPECT_EQ(summary->front().failures,
              (std::vector<records::FailureCount>{
                  {"VDD failed!", 1}, {"Chip not found", 1}, {"Blank check failed", 2}}));
}

// The summaries' questions to a station file, counted.
class CountingConnection final : public records::SqlConnection {
public:
    explicit CountingConnection(sqlite3* db) : db_(db) {}
    bool exec(const std::string& sql) override {
        ++statements;
        return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    bool rows(const std::string& sql, const std::vector<std::string>& params,
              const RowSink& each) override {
        ++statements;
        std::string text = sql;
        for (std::size_t at; (at = text.find('$')) != std::string::npos;) text[at] = '?';
        records::SqliteStatement s(db_, text);
        if (!s) return false;
        for (std::size_t i = 0; i < params.size(); ++i) s.bind(static_cast<int>(i + 1), params[i]);
        Row row;
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            row.resize(static_cast<std::size_t>(sqlite3_column_count(s.get())));
            for (std::size_t i = 0; i < row.size(); ++i) row[i] = s.text(static_cast<int>(i));
            each(row);
        }
        return rc == SQLITE_DONE;
    }
    std::string error() const override { return sqlite3_errmsg(db_); }
    int statements = 0;

private:
    sqlite3* db_;
};

TEST(RecordSummaries, ASummaryAsksTheSameFewQuestionsHoweverManyJobsAndFailures) {
    // On a line's server every question is a round trip: their number must
    // not grow with the jobs, their resets or their fail lines.
    TempDir dir;
    auto store = openStore(dir / "r.sqlite");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "r.sqlite").c_str(), &db), SQLITE_OK);
    int history = 0;
    for (auto [name, records] : lineHistories()) {
        SCOPED_TRACE(name);
        for (auto& r : records) {
            r.id = std::to_string(history) + "-" + r.id;
            r.jobSha256 = std::string(63, 'a' + history % 26) + r.jobSha256.substr(63);
        }
        ++history;
        ASSERT_TRUE(store->appendAll(records)) << store->lastError();
        CountingConnection counting(db);
        const auto read = records::readSummaries(counting, std::nullopt);
        ASSERT_TRUE(read) << counting.error();
        EXPECT_EQ(*read, records::summariseRecords(store->query({})));
        EXPECT_LE(counting.statements, 3);
    }
    sqlite3_close(db);
}

TEST(SqliteRecordStore, EveryFilterIsAnsweredThroughAnIndex) {
    TempDir dir;
    auto store = openStore(dir / "r.sqlite");
    auto records = lineHistories()[0].second;
    records[1].writer = "usb:1-1.4 serial=W0043";
    records[3].lot = records[5].lot = "L-8";
    ASSERT_TRUE(store->appendAll(records)) << store->lastError();
    const std::string jobA = records[0].jobSha256;
    struct Case {
        RecordQuery query;
        std::vector<std::string> ids;
    };
    auto q = [](auto set) {
        RecordQuery query;
        set(query);
        return query;
    };
    const Case cases[] = {
        {q([&](RecordQuery& x) { x.jobSha256 = jobA; }), {"h0", "h1", "h3", "h4", "h6"}},
        {q([](RecordQuery& x) { x.since = "2026-12-08T10:05:00.000Z"; }), {"h3", "h4", "h5", "h6"}},
        {q([](RecordQuery& x) { x.until = "2026-12-08T10:05:00.000Z"; }), {"h0", "h1", "h2"}},
        {q([](RecordQuery& x) { x.station = "bench-08"; }), {"h2", "h4"}},
        {q([](RecordQuery& x) { x.writer = "usb:1-1.4 serial=W0043"; }), {"h1"}},
        {q([](RecordQuery& x) { x.result = "fail"; }), {"h1", "h2", "h3", "h4"}},
        {q([](RecordQuery& x) { x.lot = "L-8"; }), {"h3", "h5"}},
        {q([&](RecordQuery& x) {
             x.jobSha256 = jobA;
             x.result = "fail";
             x.since = "2026-12-08T10:00:00.000Z";
             x.until = "2026-12-08T11:00:00.000Z";
         }),
         {"h3", "h4"}},
    };
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "r.sqlite").c_str(), &db), SQLITE_OK);
    for (const auto& c : cases) {
        std::vector<std::string> got;
        ASSERT_TRUE(store->forEach(c.query, [&](const UnitRecord& r) {
            got.push_back(r.id);
            return true;
        })) << store->lastError();
        EXPECT_EQ(got, c.ids);
        // The plan of the same statement: an index, and no sorting of the rows.
        std::vector<std::string> params;
        std::string sql = "EXPLAIN QUERY PLAN SELECT id FROM units" +
                          records::recordFilter(c.query, params) + " ORDER BY time, seq";
        for (std::size_t at; (at = sql.find('$')) != std::string::npos;) sql[at] = '?';
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK);
        std::string plan;
        while (sqlite3_step(s) == SQLITE_ROW)
            plan += reinterpret_cast<const char*>(sqlite3_column_text(s, 3)) + std::string("; ");
        sqlite3_finalize(s);
        EXPECT_NE(plan.find("USING INDEX"), std::string::npos) << plan;
        EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
    }
    sqlite3_close(db);
}

// Every table's columns (name, type, not null, key) and every index, as the
// database describes them.
std::string layout(sqlite3* db) {
    std::string text;
    auto each = [&](const std::string& sql, int columns) {
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql;
        while (sqlite3_step(s) == SQLITE_ROW) {
            for (int c = 0; c < columns; ++c) {
                const auto* p = sqlite3_column_text(s, c);
                text += p ? reinterpret_cast<const char*>(p) : "";
                text += c + 1 < columns ? " " : "\n";
            }
        }
        sqlite3_finalize(s);
    };
    each(
        "SELECT m.name, c.name, c.type, c.\"notnull\", c.dflt_value, c.pk FROM sqlite_master m, "
        "pragma_table_info(m.name) c WHERE m.type = 'table' ORDER BY m.name, c.cid",
        6);
    each(
        "SELECT name, tbl_name, sql FROM sqlite_master WHERE type IN ('index', 'trigger') "
        "AND sql IS NOT NULL ORDER BY name",
        3);
    return text;
}

TEST(RecordSchema, AnUpgradedFileIsLaidOutAsANewOneAndALaterColumnIsAddedInPlace) {
    // The records' own tables: a file of the first version, upgraded, and a new file.
    TempDir dir;
    sqlite3* old = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "old.sqlite").c_str(), &old), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(old, kUnitsOnlySchema.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_TRUE(openStore(dir / "old.sqlite"));
    ASSERT_TRUE(openStore(dir / "new.sqlite"));
    sqlite3* made = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "new.sqlite").c_str(), &made), SQLITE_OK);
    const std::string upgraded = layout(old), fresh = layout(made);
    sqlite3_close(old);
    sqlite3_close(made);
    EXPECT_EQ(upgraded, fresh);
    for (const auto& table : records::kRecordTables)
        for (const auto& column : table.columns)
            EXPECT_NE(fresh.find(std::string(table.name) + " " + column.name + " "),
                      std::string::npos)
                << table.name << "." << column.name;
    for (const auto& index : records::kRecordIndexes)
        EXPECT_NE(fresh.find(std::string(index.name) + " " + index.table + " "), std::string::npos)
            << index.name;

    // A column and a table of a later version: the rows already there keep
    // their values and get the column's default.
    using records::ColumnType;
    static constexpr records::Column parts[] = {
        {"n", ColumnType::RowNumber, ""},
        {"name", ColumnType::Text, "NOT NULL"},
        {"lot", ColumnType::Text, "NOT NULL DEFAULT ''", 2}};
    static constexpr records::Column lots[] = {{"lot", ColumnType::Text, "NOT NULL"},
                                               {"units", ColumnType::Integer, "NOT NULL"}};
    static constexpr records::Table tables[] = {{"parts", parts, nullptr, 1},
                                                {"lots", lots, "lot", 2}};
    static constexpr records::Index indexes[] = {{"parts_name", "parts", "name", 1},
                                                 {"parts_lot", "parts", "lot, name", 2}};
    const auto step = [&](sqlite3* db, int from, int to) {
        const std::string sql =
            records::schemaStatements(records::SqlDialect::Sqlite, from, to, tables, indexes);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    };
    sqlite3* stepped = nullptr;
    sqlite3* direct = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &stepped), SQLITE_OK);
    ASSERT_EQ(sqlite3_open(":memory:", &direct), SQLITE_OK);
    step(stepped, 0, 1);
    ASSERT_EQ(
        sqlite3_exec(stepped, "INSERT INTO parts (name) VALUES ('a')", nullptr, nullptr, nullptr),
        SQLITE_OK);
    step(stepped, 1, 2);
    step(direct, 0, 2);
    ASSERT_EQ(sqlite3_exec(stepped, "INSERT INTO parts (name, lot) VALUES ('b', 'L7')", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    std::string rows;
    {  // finished before the database is closed, or the close fails and leaks it
        records::SqliteStatement s(stepped, "SELECT n, name, lot FROM parts ORDER BY n");
        while (sqlite3_step(s.get()) == SQLITE_ROW)
            rows += s.text(0) + "," + s.text(1) + "," + s.text(2) + ";";
    }
    EXPECT_EQ(rows, "1,a,;2,b,L7;");
    EXPECT_EQ(layout(stepped), layout(direct));
    sqlite3_close(stepped);
    sqlite3_close(direct);
}

// Ids are time-ordered: one made in a later millisecond sorts after every
// earlier one, which keeps the id index's inserts at its right edge.
TEST(UnitRecord, IdsAreTimeOrderedUuidsAndDoNotRepeat) {
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    std::string latest;
    for (int i = 0; i < 1000; ++i) {
        const std::string id = records::newRecordId();
        EXPECT_TRUE(std::regex_match(id, uuid)) << id;
        EXPECT_TRUE(seen.insert(id).second) << id;
        latest = std::max(latest, id);
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%012llx", static_cast<unsigned long long>(ms));
    EXPECT_LE(latest.substr(0, 8) + latest.substr(9, 4), std::string(prefix));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_GT(records::newRecordId(), latest);
}

// A process that forks (a worker started without exec, or a test) must not
// hand out the ids its parent goes on to make.
TEST(UnitRecord, AForkedChildNeverRepeatsItsParentsIds) {
    records::newRecordId();  // the parent has random bytes in hand
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        std::string ids;
        for (int i = 0; i < 4; ++i) ids += records::newRecordId();
        const bool written =
            ::write(pipeFds[1], ids.data(), ids.size()) == static_cast<ssize_t>(ids.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::set<std::string> parents;
    for (int i = 0; i < 4; ++i) parents.insert(records::newRecordId());
    std::string childIds(4 * 36, '\0');
    std::size_t got = 0;
    while (got < childIds.size()) {
        const ssize_t n = ::read(pipeFds[0], childIds.data() + got, childIds.size() - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(got, childIds.size());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(parents.count(childIds.substr(i * 36, 36)), 0u) << childIds.substr(i * 36, 36);
}

TEST(UnitRecord, TimesAreNormalisedToUtcWithMilliseconds) {
    using records::normaliseUtcTime;
    EXPECT_EQ(normaliseUtcTime("2026-12-08"), "2026-12-08T00:00:00.000Z");
    EXPECT_EQ(normaliseUtcTime("2026-12-08T10:11"), "2026-12-08T10:11:00.000Z");
    EXPECT_EQ(normaliseUtcTime("2026-12-08 10:11:12"), "2026-12-08T10:11:12.000Z");
    EXPECT_EQ(normaliseUtcTime("2026-12-08T10:11:12.5Z"), "2026-12-08T10:11:12.500Z");
    EXPECT_EQ(normaliseUtcTime("2026-12-08T01:30:00+02:00"), "2026-12-07T23:30:00.000Z");
    EXPECT_EQ(normaliseUtcTime("2026-12-31T23:30:00-01:00"), "2027-01-01T00:30:00.000Z");
    for (const char* bad : {"", "yesterday", "2026-13-01", "2026-12-08T25:00", "2026-12-08T10:11Zx",
                            "2026-12-08T10:11:12.", "2026/12/08", "2026-12-08T10:11+2"})
        EXPECT_EQ(normaliseUtcTime(bad), std::nullopt) << bad;
    const auto now = records::utcTimeNow();
    EXPECT_EQ(normaliseUtcTime(now), now);
}

TEST(UnitRecord, MirroredPagesRoundTripThroughTheirText) {
    const std::vector<records::MirroredPage> pages = {{0x120, 0xF000}, {0xABCDEF, 0x1}};
    EXPECT_EQ(records::mirroredText(pages), "0x000120>0x00F000 0xABCDEF>0x000001");
    EXPECT_EQ(records::parseMirrored(records::mirroredText(pages)), pages);
    EXPECT_EQ(records::parseMirrored(""), std::vector<records::MirroredPage>{});
    EXPECT_EQ(records::parseMirrored("0x12"), std::nullopt);
    EXPECT_EQ(records::parseMirrored("0x12>"), std::nullopt);
    EXPECT_EQ(records::parseMirrored("12>0x13"), std::nullopt);
    EXPECT_EQ(records::parseMirrored("0x1G>0x13"), std::nullopt);
}

TEST(UnitRecord, YieldHasOneDecimal) {
    EXPECT_EQ(records::yieldText({}), "0.0");
    EXPECT_EQ(records::yieldText({4, 2}), "66.7");
    EXPECT_EQ(records::yieldText({1, 0}), "100.0");
    EXPECT_EQ(records::yieldText({1, 7}), "12.5");
}

TEST(SqliteRecordStore, SocketsAreCountedAndAResetIsKeptAndAFileBeforeThemGetsThem) {
    TempDir dir;
    const auto file = dir / "r.sqlite";
    {
        auto store = openStore(file);
        expectSocketsCountedAndReset(*store);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    // Each reset is kept with the count it ended.
    std::string resets;
    {
        records::SqliteStatement s(
            db, "SELECT writer, insertions, station <> '' FROM socket_resets ORDER BY writer");
        while (sqlite3_step(s.get()) == SQLITE_ROW)
            resets += s.text(0) + "|" + s.text(1) + "|" + s.text(2) + ";";
    }
    EXPECT_EQ(resets, "usb:1-1.3 (serial A7)|3|1;usb:1-1.9|0|1;");

    // A file of the version before the sockets: its units are counted when it is opened.
    ASSERT_EQ(sqlite3_exec(db,
                           "DROP TRIGGER units_sockets; DROP TABLE sockets; DROP TABLE "
                           "socket_resets; DROP INDEX units_lot_time; ALTER TABLE units DROP "
                           "COLUMN lot; UPDATE schema_version SET version = 2",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    auto store = openStore(file);
    EXPECT_EQ(store->schemaVersion(), records::kSchemaVersion);
    EXPECT_EQ(store->socketCounts(),
              std::optional(std::vector<records::SocketCount>{{"sim:/bench/2", 1, ""},
                                                              {"usb:1-1.3 (serial A7)", 4, ""}}));
}

}  // namespace
}  // namespace sonoprog::test
