#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Fakes.h"
#include "VirtualWriter.h"

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

// Arms the faults of one run on the fresh virtual Writer (and its chips).
using Arm = std::function<void(sim::VirtualWriter&)>;

// A chip operation as the sweeps drive it: `run` builds a fresh Writer, chip,
// files and fakes for every call, arms the faults, runs the operation once.
struct SweepOperation {
    std::string name;
    std::vector<std::uint8_t> closingCodes;  // one of them ends every run
    std::vector<std::string> closingTail;    // the pane's last lines on every path
    std::function<RunRecord(const Arm& arm)> run;
    // Seeded status faults: the command codes the operation sends, and a way
    // to make the nth command of a code answer a status on the run's chip.
    std::vector<std::uint8_t> codes;
    std::function<void(sim::VirtualWriter&, std::uint8_t code, std::uint64_t nth,
                       std::uint8_t status)>
        injectStatus;
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

// Seeded random faults (statuses, flipped bits, short and lost blocks): no
// run that says "Passed!" leaves data that are not true. Returns the faults injected.
std::uint64_t sweepSeededFaults(const SweepOperation& op, std::uint64_t seed, int runs);

bool hasLine(const RunRecord& run, const std::string& text);

}  // namespace sonoprog::test
