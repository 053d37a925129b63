#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/YieldHook.h"
#include "link/Link.h"
#include "production/Job.h"
#include "production/ProductionLoop.h"
#include "records/SqliteRecordStore.h"
#include "sim/StandardWriter.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {

// A production bench on the virtual Writer: its socket scripted, a records
// file in a temporary folder, the recording pane and lock of the operations.
class ProductionRig {
public:
    explicit ProductionRig(std::optional<sim::SocketScript> socket = std::nullopt);

    // Writes a job for `request` next to the image and loads it back.
    production::LoadedJob makeJob(production::JobRequest request,
                                  const std::string& jobName = "job.json");
    // A Tarn20 image of `pages` pages of a fixed pattern.
    std::filesystem::path tarnImage(std::uint32_t pages, const std::string& name = "image.bin");
    // The sample DAT file, copied beside the job.
    std::filesystem::path kivaImage();

    production::LoopResult run(const production::LoadedJob& job, production::LoopOptions options,
                               production::OperatorTrigger* trigger = nullptr);

    TempDir dir;
    core::AppPaths paths;
    std::unique_ptr<sim::VirtualWriter> writer;
    sim::StandardChips chips;
    RecordingPrompter prompter;
    std::unique_ptr<link::Link> link;
    RecordingPane pane;
    RecordingLock lock;
    core::NoYield yield;
    FixedClock clock;
    std::unique_ptr<records::SqliteRecordStore> store;
    std::atomic<bool> stop{false};
    ivr::IvrKeys keys;

    // What the loop told the front end.
    struct Events final : production::LoopListener {
        void stateChanged(production::LoopState s) override { states.push_back(s); }
        void unitFinished(const production::UnitOutcome& o, const records::Counters& c) override {
            outcomes.push_back(o);
            counters.push_back(c);
            if (onUnit) onUnit(o);
        }
        void pollFailed(const std::string& m) override { pollFailures.push_back(m); }
        void runAborted(const std::string& m) override { aborts.push_back(m); }
        std::vector<production::LoopState> states;
        std::vector<production::UnitOutcome> outcomes;
        std::vector<records::Counters> counters;
        std::vector<std::string> pollFailures;
        std::vector<std::string> aborts;
        std::function<void(const production::UnitOutcome&)> onUnit;
    } events;
};

}  // namespace sonoprog::test
