#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonoprog::records {

// What a record says happened. A reset is a record too, so the counters of a
// job can be rebuilt from the records alone after a restart.
inline constexpr std::string_view kResultPass = "pass";
inline constexpr std::string_view kResultFail = "fail";
inline constexpr std::string_view kResultReset = "reset";

// A Tarn20 page that failed to program and the spare page it went to.
struct MirroredPage {
    std::uint32_t page = 0;
    std::uint32_t spare = 0;
    friend bool operator==(const MirroredPage&, const MirroredPage&) = default;
};

// One programmed unit (or one counter reset), as every store keeps it.
struct UnitRecord {
    std::string id;       // made on the station, unique: a resend never counts twice
    std::string time;     // UTC, ISO 8601 with milliseconds ("2026-12-08T10:11:12.345Z")
    std::string station;  // host name
    std::string operatorName;
    std::string jobName;
    std::string jobSha256;  // of the job file
    std::string imageSha256;
    std::string imageCheckSum;  // 8 hex digits, or the Kiva300 check word
    std::string target;         // "tarn20", "serialflash", "kiva300"
    std::string device;         // the serial flash device name; empty otherwise
    std::string writer;         // USB port path and serial, or the virtual Writer's folder
    std::string result;         // kResultPass, kResultFail or kResultReset
    std::string failingStep;    // empty when the unit passed
    std::string failLine;       // the first fail line's text; empty when the unit passed
    std::int64_t durationMs = 0;
    std::string pgmLog;                  // Tarn20 PGM_ log file, when the unit made one
    std::string vrfLog;                  // Tarn20 VRF_ log file, when the unit made one
    std::vector<MirroredPage> mirrored;  // Tarn20 only
    std::string lot;                     // the lot the unit was made for; empty when none

    friend bool operator==(const UnitRecord&, const UnitRecord&) = default;
};

// Which records a query returns; unset fields do not filter. Every filter is
// answered through an index of the stores.
struct RecordQuery {
    std::optional<std::string> jobSha256 = std::nullopt;
    std::optional<std::string> since = std::nullopt;  // ISO 8601 UTC; records at or after it
    std::optional<std::string> until = std::nullopt;  // ISO 8601 UTC; records before it
    std::optional<std::string> station = std::nullopt;
    std::optional<std::string> writer = std::nullopt;
    std::optional<std::string> result = std::nullopt;  // kResultPass, kResultFail or kResultReset
    std::optional<std::string> lot = std::nullopt;
};

// The counters of one job since its last reset.
struct Counters {
    long long passed = 0;
    long long failed = 0;
    long long total() const { return passed + failed; }
    // Percent of units that passed; 0 before the first unit.
    double yield() const { return total() == 0 ? 0.0 : 100.0 * passed / total(); }
    friend bool operator==(const Counters&, const Counters&) = default;
};

// One job's line of `records summary`: its counters since its last reset and
// the failures among them by fail line, in the order they first happened.
struct FailureCount {
    std::string failLine;
    long long count = 0;
    friend bool operator==(const FailureCount&, const FailureCount&) = default;
};
struct JobSummary {
    std::string jobName;  // as its latest record names it
    std::string jobSha256;
    Counters counters;
    std::vector<FailureCount> failures;
    friend bool operator==(const JobSummary&, const JobSummary&) = default;
};

// "75.0": the yield with one decimal, as the summary lines print it.
std::string yieldText(const Counters& counters);

// A fresh record id: a time-ordered (version 7) UUID, the time in
// milliseconds followed by 74 bits from the system's secure generator.
// Unique across stations without asking any server; ids of earlier files
// (random, version 4) stay valid beside them.
std::string newRecordId();

// The current UTC time as the records write it.
std::string utcTimeNow();

// The station's host name ("unknown" when the system has none).
std::string stationName();

// "0x000120>0x00F000 0x000300>0x00F001": the mirrored pages as one text, for
// the SQLite column and the CSV export; parseMirrored reads it back.
std::string mirroredText(const std::vector<MirroredPage>& pages);
std::optional<std::vector<MirroredPage>> parseMirrored(std::string_view text);

// A normalised ISO 8601 UTC time for comparing against record times:
// "2026-12-08", "2026-12-08T10:11", "2026-12-08T10:11:12" and
// "2026-12-08T10:11:12.5Z" all become "YYYY-MM-DDTHH:MM:SS.mmmZ". A time with
// a zone offset ("+02:00") is moved to UTC. nullopt for anything else.
std::optional<std::string> normaliseUtcTime(std::string_view text);

}  // namespace sonoprog::records
