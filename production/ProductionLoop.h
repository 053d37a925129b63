#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/ImageSnapshot.h"
#include "link/Link.h"
#include "production/ImageHash.h"
#include "production/Job.h"
#include "production/UnitRunner.h"
#include "records/RecordStore.h"

namespace sonoprog::production {

enum class Trigger { Enter, Insert };

// What the status panel shows.
enum class LoopState {
    WaitingForOperator,  // trigger enter: waiting for the operator to start the unit
    InsertChip,          // trigger insert: polling for a chip
    Programming,
    RemoveChip,  // trigger insert: polling until the socket is empty
    Stopped,
};

struct UnitOutcome {
    long long n = 0;  // 1, 2, ... within this run
    bool passed = false;
    double seconds = 0;
    std::string failingStep;
    std::string failLine;  // as shown
    std::string failure;   // failMessage(failLine); empty when passed
    std::string recordId;
    // With a quantity: the units still to pass before the lot is done.
    std::optional<long long> remaining;
    // The insertions the Writer's socket has had, this unit's included
    // (unset when the store keeps no count).
    std::optional<long long> socketInsertions;
};

// How worn a socket is against its rated life ([Socket] Life=).
enum class SocketWear { Fine, NearLife, AtLife };

// Fine without a life (0); NearLife from 90% of it; AtLife from the life on.
SocketWear socketWear(long long insertions, long long life);
// The warning for a socket at `wear` (empty for Fine): "The socket of WRITER
// has had 450 of its 500 insertions; replace it soon."
std::string socketWarning(const std::string& writer, long long insertions, long long life);

// What the loop takes from Setup.ini; a front end's own options win.
struct LineSettings {
    long long stopAfterFails = 3;  // [Production] StopAfterFails= (0: never)
    long long socketLife = 0;      // [Socket] Life= (0: not counted against a life)
};
LineSettings readLineSettings(const std::filesystem::path& setupIni);

// "3 failures in a row: check the socket and the image".
std::string failStreakReason(long long fails);

// The front end's view of the loop: the command line prints summary lines,
// the window updates its panel, counters and sounds.
class LoopListener {
public:
    virtual ~LoopListener() = default;
    virtual void stateChanged(LoopState state) { (void)state; }
    // After the unit's record is committed.
    virtual void unitFinished(const UnitOutcome& outcome, const records::Counters& jobCounters) {
        (void)outcome, (void)jobCounters;
    }
    // A poll failed on the link; reported once until a poll works again.
    virtual void pollFailed(const std::string& message) { (void)message; }
    // Why the run stopped before its end (changed image, records not
    // writable, too many failures in a row).
    virtual void runAborted(const std::string& message) { (void)message; }
    // The Writer's socket reached 90% of its life, or its life: at the unit
    // that crossed the mark, and once when a run starts past it.
    virtual void socketWorn(const std::string& message, SocketWear wear) {
        (void)message, (void)wear;
    }
};

// Trigger enter: the front end waits for the operator. False when no more
// units should run (input ended, or the stop flag was raised meanwhile).
class OperatorTrigger {
public:
    virtual ~OperatorTrigger() = default;
    virtual bool waitForStart() = 0;
};

struct LoopOptions {
    std::optional<long long> units;  // stop after this many; unset: until stopped
    Trigger trigger = Trigger::Enter;
    std::string operatorName;
    std::string writerIdentity;  // "usb", "sim", "sim:/abs/dir", ...
    std::chrono::milliseconds pollInterval{250};
    // Stop after this many failed units in a row (0: never): a bent socket
    // or a wrong image fails every chip, and a tray is not wasted on it.
    // Unset: Setup.ini's (readLineSettings), so that every front end stops alike.
    std::optional<long long> stopAfterFails;
    // Stop once this many units have passed (the lot's quantity).
    std::optional<long long> quantity;
    std::string lot;  // recorded with every unit
    // Warn at 90% of this many insertions of the socket and at it (0:
    // never). Unset: Setup.ini's.
    std::optional<long long> socketLife;
};

struct LoopServices {
    UnitServices unit;
    link::Link& link;  // the Writer the polls go to (quietly: a failing poll is no box)
    records::RecordStore& store;
};

struct LoopResult {
    long long passed = 0;
    long long failed = 0;
    bool aborted = false;          // stopped by a changed image, a missing record, ...
    bool failStreak = false;       // stopped after stopAfterFails failures in a row
    bool quantityReached = false;  // the lot's quantity has passed
    long long total() const { return passed + failed; }
};

// The production unit loop shared by `produce` and the window's Production
// tab: wait for the trigger, re-check the image, run the unit through the
// chips' operations, commit its record, tell the front end. `stop` (a signal,
// the Stop button) ends the loop between units: a running unit always runs to
// the end of its closing steps and gets its record first.
class ProductionLoop {
public:
    ProductionLoop(const LoadedJob& job, LoopServices services, LoopListener& listener,
                   const std::atomic<bool>& stop);

    LoopResult run(const LoopOptions& options, OperatorTrigger* operatorTrigger);

    // The record a unit of this job gets, without the unit's own fields.
    records::UnitRecord recordBase(const LoopOptions& options) const;

    // nullopt when the image is there and still the job's; the message otherwise.
    std::optional<std::string> imageProblem();

private:
    // Reads the image into the run's snapshot and holds it against the job;
    // the message when it does not match.
    std::optional<std::string> takeSnapshot();
    std::string changedMessage(const std::string& sha) const;
    // Polls until the socket holds a chip (present) or is empty; false when stopped.
    bool waitForSocket(bool present, const LoopOptions& options);
    bool pause(std::chrono::milliseconds interval);

    const LoadedJob& job_;
    LoopServices s_;
    LoopListener& listener_;
    const std::atomic<bool>& stop_;
    ImageHashCache hashes_;
    std::filesystem::path image_;
    std::optional<core::ImageSnapshot> snapshot_;
    std::string snapshotSha256_;
};

// "UNIT 3 FAIL 0.4s VDD failed!", "TOTAL 6 PASS 4 FAIL 2 YIELD 66.7%"; their
// objects are in WorkerLines.h.
std::string unitSummaryLine(const UnitOutcome& outcome);
std::string totalLine(const LoopResult& result);
// "REMAINING 7 of 10": the units still to pass for the lot, after each unit.
std::string remainingLine(long long remaining, long long quantity);

}  // namespace sonoprog::production
