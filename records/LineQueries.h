#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "records/UnitRecord.h"

namespace sonoprog::records {

// One row of the hourly summary the records keep beside `units`
// (unit_hours): the units of one station, job, hour, result and reason.
struct HourCount {
    std::string station;
    std::string jobSha256;
    std::string jobName;
    std::string hour;  // "2026-12-08T10"; empty in the rows of latest()
    std::string result;
    std::string reason;  // the fail line of failed units; empty otherwise
    long long units = 0;
    std::string lastTime;  // the latest record among them
};

// A job's counters since its last reset (job_counters).
struct JobCount {
    std::string jobSha256;
    std::string resetTime;  // empty when the job was never reset
    long long passed = 0;
    long long failed = 0;
};

// How many units failed for one reason.
struct ReasonCount {
    std::string reason;
    long long count = 0;
};

// What the line page shows of one station. The counts cover the page's window
// (the last 24 hours, or less with a later start).
struct StationLine {
    std::string station;
    std::string jobName;  // the job of the station's latest record
    std::string jobSha256;
    Counters counters;
    long long unitsThisHour = 0;  // in the current UTC clock hour
    std::string lastUnit;         // the time of the latest pass or fail; empty when none
    // The station's latest record is no reset and its job had units in the
    // last 24 hours (on any station).
    bool jobOpen = false;
    // The job is open and the last unit is more than 10 minutes old.
    bool silent = false;
    std::vector<long long> hourly;      // units per hour of LineView::hours
    std::vector<ReasonCount> failures;  // most first
};

struct HourLine {
    std::string hour;  // "2026-12-08T10"
    Counters counters;
};

struct JobLine {
    std::string jobSha256;
    std::string jobName;  // the name of its latest record
    std::string resetTime;
    Counters counters;  // since the last reset
};

// The whole line at one moment.
struct LineView {
    std::string generated;              // the moment, as the records write times
    std::vector<std::string> hours;     // the window's clock hours, oldest first
    std::vector<StationLine> stations;  // by name
    std::vector<ReasonCount> failures;  // every station's, most first
    std::vector<HourLine> hourly;       // one per entry of hours
    std::vector<JobLine> jobs;          // by name
};

// The read-only questions the line page asks of the records: a station's
// file or the line's database. Everything but lastUnits() is answered from
// the summaries the records keep (unit_hours, job_counters), so the cost does
// not grow with the number of units. A connection of its own, opened for
// reading only: the page never writes, and a database role that may only
// SELECT is enough.
class LineQueries {
public:
    virtual ~LineQueries() = default;

    // A file path is a station's SQLite file (which must exist), a
    // postgresql:// address the line's database. nullptr with `error` set
    // when it cannot be opened or holds no summaries (the message names no
    // location: an address may hold a password).
    // No wait on the database lasts more than a few seconds without a word
    // from it; `giveUp`, asked meanwhile, ends one at once (a stop).
    static std::unique_ptr<LineQueries> open(const std::string& location, std::string& error,
                                             const std::function<bool()>& giveUp = {});

    // The unit_hours rows of the hour `fromHour` and later.
    virtual bool hoursFrom(const std::string& fromHour, std::vector<HourCount>& out) = 0;
    // Per station, job, name and result, over all hours: the units and the
    // latest time (hour and reason empty).
    virtual bool latest(std::vector<HourCount>& out) = 0;
    virtual bool jobCounts(std::vector<JobCount>& out) = 0;
    // The last `limit` records, oldest first.
    virtual bool lastUnits(int limit, std::vector<UnitRecord>& out) = 0;
    // Where the records are, as opened: a database address may hold a
    // password, so mask it before showing it.
    virtual std::string location() const = 0;

    // The line at `now` (a record time). `since` (normalised) narrows the
    // window of the last 24 hours to its hour and later. `plainReason` turns a
    // stored fail line into the reason shown. nullopt on failure (lastError()).
    std::optional<LineView> line(const std::string& now, const std::optional<std::string>& since,
                                 const std::function<std::string(const std::string&)>& plainReason);

    const std::string& lastError() const { return lastError_; }

protected:
    // Brackets the questions of one line() so they see one state of the records.
    virtual bool beginRead() = 0;
    virtual void endRead() = 0;

    std::string lastError_;

private:
    std::vector<HourCount> history_;  // latest() as last read
    std::string historyTime_;         // when
};

// "2026-12-08T10" for a time `hours` hours after (or before) the hour of
// `time` (a normalised record time).
std::string hourOf(const std::string& time, int hours = 0);
// The record time `seconds` after (or before) `time`.
std::string timeAfter(const std::string& time, long long seconds);

}  // namespace sonoprog::records
