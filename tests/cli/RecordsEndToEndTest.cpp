// The records commands on station files they did not make: missing, damaged,
// or made before the summaries.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "records/SqliteRecordStore.h"
#include "tests/cli/CliRunner.h"
#include "tests/records/RecordsFixture.h"

using namespace sonoprog::test;

namespace {

const std::vector<std::vector<std::string>> kReadingCommands = {
    {"records"},
    {"records", "--csv"},
    {"--json", "records"},
    {"records", "summary"},
    {"--json", "records", "summary"},
};

std::vector<std::string> withRecords(const std::string& file, std::vector<std::string> args) {
    args.insert(args.begin(), {"--records", file});
    return args;
}

// A file that is not there or is damaged: every reading command fails with
// the reason, shows no totals and makes nothing.
TEST(RecordsCli, AReadingCommandOnAMissingOrDamagedFileSaysWhyAndMakesNothing) {
    TempDir dir;
    const auto missing = dir / "missing" / "dir" / "r.sqlite";
    const auto file = dir / "r.sqlite";
    {
        std::string error;
        auto store = sonoprog::records::SqliteRecordStore::open(file, error);
        ASSERT_TRUE(store) << error;
        for (const auto& [name, list] : lineHistories())
            ASSERT_TRUE(store->appendAll(list)) << store->lastError();
    }
    // The first pages of the units, of the summaries and of the sockets'
    // counts are overwritten, as a failing disk would leave them.
    std::vector<long long> pages;
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT rootpage FROM sqlite_master WHERE name IN ('units', "
                           "'unit_hours', 'job_counters', 'sockets')",
                           -1, &s, nullptr);
        while (sqlite3_step(s) == SQLITE_ROW) pages.push_back(sqlite3_column_int64(s, 0));
        sqlite3_finalize(s);
        sqlite3_close(db);
    }
    ASSERT_EQ(pages.size(), 4u);
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        const std::string garbage(4096, '\xA5');
        for (long long page : pages) {
            f.seekp((page - 1) * 4096);
            f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
        }
        ASSERT_TRUE(f.good());
    }
    const struct {
        std::filesystem::path file;
        std::string why;
    } files[] = {{missing, missing.string() + ": it does not exist"}, {file, "malformed"}};
    for (const auto& f : files)
        for (const auto& command : kReadingCommands) {
            SCOPED_TRACE(f.why + ": " + command.back());
            const auto run = runCli(withRecords(f.file.string(), command));
            EXPECT_EQ(run.status, 1) << run.out;
            EXPECT_NE(run.err.find(f.why), std::string::npos) << run.err;
            EXPECT_EQ(run.out.find("TOTAL"), std::string::npos) << run.out;
            EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
        }
    // The Writers' list reads the sockets' counts there.
    for (const auto& command : {std::vector<std::string>{"writers"}, {"--json", "writers"}}) {
        const auto run = runCli(withRecords(file.string(), command));
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.err.find("malformed"), std::string::npos) << run.err;
    }
}

TEST(RecordsCli, AFileOfTheEarlierSchemaIsUpgradedOnceWithProgressAndFilters) {
    TempDir dir;
    const auto file = dir / "r.sqlite";
    std::size_t count = 0;
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, kUnitsOnlySchema.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        for (const auto& [name, list] : lineHistories())
            for (const auto& r : list) {
                insertRaw(db, r);
                ++count;
            }
        sqlite3_close(db);
    }
    const auto first = runCli(withRecords(file.string(), {"records", "summary"}));
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(
        first.err.find("building the summaries of " + std::to_string(count) + " records: 100%"),
        std::string::npos)
        << first.err;
    const auto again = runCli(withRecords(file.string(), {"records", "summary"}));
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(again.out, first.out);
    // The history with a reset inside an hour: one pass, four failures since.
    EXPECT_NE(first.out.find("JOB Job a (aaaaaaaaaaaa)\nTOTAL 5 PASS 1 FAIL 4 YIELD 20.0%\n"),
              std::string::npos)
        << first.out;

    const auto all = runCli(withRecords(file.string(), {"--json", "records"}));
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.outLines().size(), count + 1);  // the records and the closing result
    const auto filtered = runCli(withRecords(
        file.string(), {"--json", "records", "--station", "bench-08", "--result", "fail", "--since",
                        "2026-12-08T09:00", "--until", "2026-12-08T10:06Z"}));
    ASSERT_EQ(filtered.status, 0) << filtered.err;
    std::vector<std::string> ids;
    for (const auto& line : filtered.outLines()) {
        const auto j = nlohmann::json::parse(line);
        if (j.contains("id")) ids.push_back(j.at("id"));
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"h2"}));
    EXPECT_EQ(runCli(withRecords(file.string(), {"records", "--result", "maybe"})).status, 2);
}

}  // namespace
