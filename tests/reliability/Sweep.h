#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/OperationLog.h"
#include "link/Link.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"
#include "tests/support/ImageBytes.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {

// What one run of a chip operation left behind.
struct RunRecord {
    bool result = false;
    std::vector<std::string> lines;  // the pane, in order
    std::vector<std::string> lockEvents;
    bool lockedAfter = true;
    std::vector<Box> boxes;
    std::vector<sim::TransferRecord> transfers;
    std::uint64_t transferCount = 0;
    std::vector<std::string> protocolErrors;
    // The rig's own judgment after the run: for a write, the chip holds the
    // whole image; for a check or a read, the chip holds what the run compared
    // against (so a "Passed!" would be true).
    bool dataTrue = false;
    int openFdsBefore = 0;
    int openFdsAfter = 0;
};

// Arms the faults of one run on the fresh virtual Writer and the status
// injection of the chip the operation talks to.
using Arm = std::function<void(sim::VirtualWriter& writer, sim::StatusInjector& statuses)>;

// A chip operation as the sweeps drive it: `run` builds a fresh Writer, chip,
// files and fakes for every call, arms the faults, runs the operation once.
// A non-zero `spoil` asks a checking operation (blank check, verify) to start
// from a chip that is wrong at byte (spoil - 1) modulo its size, so that a
// "Passed!" would be false; writing operations ignore it.
struct SweepOperation {
    std::string name;
    std::vector<std::uint8_t> closingCodes;    // one of them ends every run
    std::vector<std::string> closingTail;      // the pane's last lines on every path
    std::string passLine = "    [O] Passed!";  // what a passing run says
    // false for an operation that cannot judge the data it receives (the
    // engineering read dumps what comes): its seeded runs corrupt no data block.
    bool judgesData = true;
    std::function<RunRecord(const Arm& arm, std::uint64_t spoil)> run;
    // Seeded status faults go to these command codes of the operation.
    std::vector<std::uint8_t> codes;
};

// What every run of a chip operation needs: a fresh program folder with its
// Temp folder, the virtual Writer (logging, open) and the recording fakes.
struct OperationRig : RecordingServices {
    OperationRig();
    // Arms the faults, runs the operation, and records what it left.
    // `dataTrue` judges the chip afterwards (see RunRecord::dataTrue).
    RunRecord run(const Arm& arm, sim::StatusInjector& statuses,
                  const std::function<bool()>& operation, const std::function<bool()>& dataTrue);

    TempDir dir;
    core::AppPaths paths;
    sim::VirtualWriter writer;
    RecordingPrompter prompter;
    link::Link link{writer, prompter};
};

// Counted over the whole process and, when SONOPROG_FIGURES_FILE names a
// file, added to it at exit (the test script sums the figures of all runs).
struct Figures {
    std::uint64_t runs = 0;
    std::uint64_t faults = 0;
    std::uint64_t passedWithFault = 0;  // runs that said "Passed!" with a fault, data true
    static Figures& get();
    static void record(const std::string& key, std::uint64_t value);
};

// Open file descriptors of this process.
int openFdCount();

// Runs `body` and aborts the process with a message when it takes longer than
// `limit`: a hung operation must fail the suite, not stall it.
void withinDeadline(const std::string& what, std::chrono::seconds limit,
                    const std::function<void()>& body);

// The run without faults: passes, says "Passed!", follows the Writer contract.
// Returns its transfer count.
std::uint64_t checkCleanRun(const SweepOperation& op);

// The checks every run with an injected transfer fault must pass.
void checkFaultedRun(const SweepOperation& op, const RunRecord& run, const std::string& label,
                     bool linkStillWorks);

// Fail transfer k once, and fail every transfer from k on, for every k of the
// clean run. Returns the number of runs.
std::uint64_t sweepTransferFaults(const SweepOperation& op);

// The same for the transfers `ks` of an operation whose clean run has
// `total` transfers (for an operation too long to fail at every transfer).
std::uint64_t sweepTransferFaults(const SweepOperation& op, const std::vector<std::uint64_t>& ks,
                                  std::uint64_t total);

// `count` scaled by SONOPROG_RELIABILITY_SCALE (default 1; the sanitizer run
// and a quick CI run lower it), never below `least`.
int scaled(int count, int least);

// Seeded random faults (statuses, flipped bits, short and lost blocks): no
// run that says "Passed!" leaves data that are not true. Returns the faults injected.
std::uint64_t sweepSeededFaults(const SweepOperation& op, std::uint64_t seed, int runs);

bool hasLine(const RunRecord& run, const std::string& text);

}  // namespace sonoprog::test
