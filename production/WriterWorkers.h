#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "production/ProductionLoop.h"
#include "production/WorkerLines.h"
#include "records/RecordStore.h"

namespace sonoprog::production {

// The short name a Writer goes by in the list of last units: the USB port
// ("1-1.3"), the serial number, or the virtual Writer's folder name ("bench2").
std::string writerShortName(std::string_view writer);

// What a tile's status panel shows.
enum class TileStatus {
    Ready,
    InsertChip,
    Programming,
    Pass,
    Fail,          // detail: the unit's failure
    Disconnected,  // "Writer Disconnect"; detail: what the worker last heard from it
    Stopped,       // detail: why the worker gave up (its last error)
};

// The panel's text for a status: "PASS", "FAIL\nVDD failed!", ...
std::string tileStatusText(TileStatus status, const std::string& detail);

// One worker process running `sonoprog-cli --json produce ... --trigger insert`,
// as far as its two streams have told: the log lines, progress, units and
// total on standard output; errors and status notes on standard error. Lines
// that are not JSON objects (a crash report, say) are passed over.
class WorkerReport {
public:
    // A worker (re)started: INSERT CHIP, the gauge at zero, the counters kept.
    void started();
    // One line of standard output; the unit when the line finishes one.
    std::optional<UnitOutcome> outputLine(std::string_view line);
    void errorLine(std::string_view line);
    // The worker is gone: `crashed` (killed, died on a signal) or exited with `exitCode`.
    void ended(bool crashed, int exitCode);
    void resetCounters() { counters_ = {}; }

    bool running() const { return running_; }
    TileStatus status() const { return status_; }
    const std::string& detail() const { return detail_; }
    std::string statusText() const { return tileStatusText(status_, detail_); }
    int percent() const { return percent_; }
    // The units the tile's workers finished since the page opened the job.
    const records::Counters& counters() const { return counters_; }

private:
    void show(TileStatus status, std::string detail = {});
    void activity();

    TileStatus status_ = TileStatus::Ready;
    std::string detail_;
    std::string lastError_;
    int percent_ = 0;
    records::Counters counters_;
    bool running_ = false;
    bool sawTotal_ = false;
    bool disconnected_ = false;
};

}  // namespace sonoprog::production
