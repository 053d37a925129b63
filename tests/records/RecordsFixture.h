#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "records/RecordSchema.h"
#include "records/RecordStore.h"
#include "records/UnitRecord.h"

namespace sonoprog::test {

// A record with every field set to a distinct value, so a store that drops or
// swaps a column fails the comparison.
inline records::UnitRecord fullRecord(const std::string& id, const std::string& time,
                                      std::string_view result = records::kResultFail) {
    records::UnitRecord r;
    r.id = id;
    r.time = time;
    r.station = "bench-07";
    r.operatorName = "Ana, \"night\" shift";
    r.jobName = "Greeting chip v2";
    r.jobSha256 = std::string(64, 'a');
    r.imageSha256 = std::string(64, 'b');
    r.imageCheckSum = "0012AB9F";
    r.target = "tarn20";
    r.device = "";
    r.writer = "usb:1-1.3 serial=W0042";
    r.result = std::string(result);
    r.failingStep = result == records::kResultFail ? "  -> Program chip..." : "";
    r.failLine = result == records::kResultFail ? "Failed at page 0x000120!\nsecond" : "";
    r.durationMs = 12345;
    r.pgmLog = "/tmp/Temp/PGM_20261208-1011.log";
    r.vrfLog = "/tmp/Temp/VRF_20261208-1011.log";
    r.mirrored = {{0x120, 0xF000}, {0x300, 0xF001}};
    r.lot = "L-7, tray 2";
    return r;
}

// A short history of a line, in the order its records reach the store: each
// step is one record of job 'a' or 'b' at a time of 2026-12-08 ("10:05:00",
// with ".000Z" added), with its fail line when it failed.
struct Step {
    const char* time;
    std::string_view result;
    char job = 'a';
    const char* failLine = "";
    const char* station = "bench-07";
};
inline std::vector<records::UnitRecord> history(const std::string& name,
                                                const std::vector<Step>& steps) {
    std::vector<records::UnitRecord> out;
    for (const auto& s : steps) {
        auto r = fullRecord(name + std::to_string(out.size()),
                            std::string("2026-12-08T") + s.time + ".000Z", s.result);
        // Each history has jobs of its own, so that several share one database.
        r.jobSha256 = std::string(63, s.job) + name;
        r.jobName = std::string("Job ") + s.job;
        r.failLine = s.failLine;
        r.station = s.station;
        out.push_back(std::move(r));
    }
    return out;
}

// Histories whose summaries are easy to get wrong: resets inside an hour,
// records sent on late (older than a reset, or a reset older than records
// already there), equal times, the same fail line in several hours.
inline std::vector<std::pair<std::string, std::vector<records::UnitRecord>>> lineHistories() {
    using records::kResultFail, records::kResultPass, records::kResultReset;
    return {
        {"two jobs over three hours",
         history("h", {{"09:10:00", kResultPass},
                       {"09:20:00", kResultFail, 'a', "VDD failed!"},
                       {"09:30:00", kResultFail, 'b', "Verify error at 0x0100", "bench-08"},
                       {"10:05:00", kResultFail, 'a', "Verify error at 0x0100"},
                       {"10:06:00", kResultFail, 'a', "VDD failed!", "bench-08"},
                       {"11:00:00", kResultPass, 'b'},
                       {"11:01:00", kResultPass}})},
        {"a reset inside an hour with failures on both sides",
         history("r", {{"10:01:00", kResultFail, 'a', "Chip not found"},
                       {"10:02:00", kResultFail, 'a', "VDD failed!"},
                       {"10:30:00", kResultReset},
                       {"10:31:00", kResultFail, 'a', "VDD failed!"},
                       {"10:32:00", kResultPass},
                       {"11:10:00", kResultFail, 'a', "Chip not found"},
                       {"11:11:00", kResultFail, 'a', "Blank check failed"},
                       {"12:00:00", kResultFail, 'a', "Blank check failed"}})},
        {"records sent on late, older than the reset",
         history("l", {{"10:10:00", kResultPass},
                       {"10:20:00", kResultReset},
                       {"10:25:00", kResultFail, 'a', "VDD failed!"},
                       {"10:05:00", kResultFail, 'a', "Chip not found"},
                       {"09:59:00", kResultPass}})},
        {"a reset sent on late, older than records already there",
         history("o", {{"10:10:00", kResultPass},
                       {"10:40:00", kResultFail, 'a', "VDD failed!"},
                       {"11:05:00", kResultFail, 'a', "Chip not found"},
                       {"10:20:00", kResultReset},
                       {"10:00:00", kResultReset}})},
        {"two resets at one time and records at that time",
         history("t", {{"10:00:00", kResultFail, 'a', "VDD failed!"},
                       {"10:10:00", kResultReset},
                       {"10:10:00", kResultFail, 'a', "Chip not found"},
                       {"10:10:00", kResultReset},
                       {"10:10:00", kResultPass},
                       {"10:10:00", kResultFail, 'a', "VDD failed!"}})},
        {"a job with nothing but a reset", history("n", {{"08:00:00", kResultReset, 'b'}})},
    };
}

// A station file as the program made it before the summaries: the units
// table and its two indexes, no version.
inline const std::string kUnitsOnlySchema =
    "PRAGMA journal_mode=WAL;\n" + records::schemaStatements(records::SqlDialect::Sqlite, 0, 1);

// A record written by another client with plain SQL, as a restore would.
inline void insertRaw(sqlite3* db, const records::UnitRecord& r) {
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "INSERT INTO units (id, time, station, operator, job_name, "
                                 "job_sha256, image_sha256, image_checksum, target, device, "
                                 "writer, result, failing_step, fail_line, duration_ms, pgm_log, "
                                 "vrf_log, mirrored) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                 "?, ?, ?, ?, ?, ?)",
                                 -1, &s, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    const std::string texts[] = {r.id,          r.time,      r.station,     r.operatorName,
                                 r.jobName,     r.jobSha256, r.imageSha256, r.imageCheckSum,
                                 r.target,      r.device,    r.writer,      r.result,
                                 r.failingStep, r.failLine};
    int i = 1;
    for (const auto& t : texts) sqlite3_bind_text(s, i++, t.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, i++, r.durationMs);
    sqlite3_bind_text(s, i++, r.pgmLog.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, i++, r.vrfLog.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, i++, records::mirroredText(r.mirrored).c_str(), -1, SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(s), SQLITE_DONE) << sqlite3_errmsg(db);
    sqlite3_finalize(s);
}

// The store's summaries and counters (kept by its database) against those
// worked out from its records one by one.
inline void expectSummariesMatchRecords(records::RecordStore& store) {
    const auto all = store.query({});
    ASSERT_EQ(store.lastError(), "");
    const auto summary = store.summary(std::nullopt);
    ASSERT_TRUE(summary) << store.lastError();
    EXPECT_EQ(*summary, records::summariseRecords(all));
    for (const auto& job : *summary) {
        records::RecordQuery q;
        q.jobSha256 = job.jobSha256;
        const auto ofJob = store.query(q);
        EXPECT_EQ(store.summary(job.jobSha256), std::optional(records::summariseRecords(ofJob)));
        EXPECT_EQ(store.counters(job.jobSha256), records::countSinceReset(ofJob)) << job.jobName;
    }
    // Each Writer's socket has had every unit recorded on it (no socket was reset).
    std::map<std::string, long long> insertions;
    for (const auto& r : all)
        if (r.result != records::kResultReset) ++insertions[r.writer];
    std::vector<records::SocketCount> expected;
    for (const auto& [writer, n] : insertions) expected.push_back({writer, n, ""});
    EXPECT_EQ(store.socketCounts(), std::optional(expected)) << store.lastError();
}

// Units count on their Writer's socket and a counter reset does not; a
// resent unit counts once; a socket reset starts its count again and leaves
// the other sockets alone.
inline void expectSocketsCountedAndReset(records::RecordStore& store) {
    const auto unit = [](const std::string& id, const std::string& writer,
                         std::string_view result) {
        auto r = fullRecord(id, "2026-12-08T10:00:0" + id.substr(id.size() - 1) + ".000Z", result);
        r.writer = writer;
        return r;
    };
    const std::string a = "usb:1-1.3 (serial A7)", b = "sim:/bench/2";
    for (const auto& r : {unit("s1", a, records::kResultPass), unit("s2", a, records::kResultFail),
                          unit("s3", b, records::kResultPass), unit("s4", a, records::kResultReset),
                          unit("s1", a, records::kResultPass), unit("s5", a, records::kResultPass)})
        ASSERT_TRUE(store.append(r)) << store.lastError();
    EXPECT_EQ(store.socketCounts(),
              std::optional(std::vector<records::SocketCount>{{b, 1, ""}, {a, 3, ""}}));
    EXPECT_EQ(store.socketCounts(a), std::optional(std::vector<records::SocketCount>{{a, 3, ""}}));
    EXPECT_EQ(store.socketCounts("usb:9-9"), std::optional(std::vector<records::SocketCount>{}));

    ASSERT_TRUE(store.resetSocket(a)) << store.lastError();
    ASSERT_TRUE(store.append(unit("s6", a, records::kResultFail))) << store.lastError();
    // A Writer that never had a unit gets a count of 0 from its reset.
    ASSERT_TRUE(store.resetSocket("usb:1-1.9")) << store.lastError();
    const auto counts = store.socketCounts();
    ASSERT_TRUE(counts && counts->size() == 3u) << store.lastError();
    EXPECT_EQ((*counts)[0], (records::SocketCount{b, 1, ""}));
    EXPECT_EQ((*counts)[1].writer, a);
    EXPECT_EQ((*counts)[1].insertions, 1);
    EXPECT_EQ(records::normaliseUtcTime((*counts)[1].resetTime), (*counts)[1].resetTime);
    EXPECT_EQ((*counts)[2].writer, "usb:1-1.9");
    EXPECT_EQ((*counts)[2].insertions, 0);
}

}  // namespace sonoprog::test
