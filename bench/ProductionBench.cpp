// The production loop against the operations it runs: 20 Kiva300 units
// through the loop (trigger, image hash, record) against 20 plain writes,
// the same loop with its records kept in memory (what the loop itself adds,
// the durable record apart), and what hashing the image costs per unit,
// cached and in full.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>

#include "bench/BenchSupport.h"
#include "kiva/KivaOperations.h"
#include "production/ImageHash.h"
#include "production/Job.h"
#include "production/ProductionLoop.h"
#include "records/SqliteRecordStore.h"
#include "sim/KivaChip.h"

using namespace sonoprog;

namespace {

constexpr int kUnits = 20;

std::filesystem::path sampleDat() {
    return std::filesystem::path(SONOPROG_SAMPLES_DIR) / "kiva300-demo.dat";
}

// Records kept in a list: the loop's own work without the durable commit
// (an fsync per unit) that the station's file pays.
class MemoryStore final : public records::RecordStore {
public:
    bool append(const records::UnitRecord& record) override {
        list_.push_back(record);
        return true;
    }
    std::vector<records::UnitRecord> query(const records::RecordQuery& q) override {
        std::vector<records::UnitRecord> out;
        for (const auto& r : list_)
            if ((!q.jobSha256 || r.jobSha256 == *q.jobSha256) && (!q.since || r.time >= *q.since))
                out.push_back(r);
        return out;
    }
    // Counted in place: copying the list for every unit would be the bench's
    // own cost, not the loop's.
    records::Counters counters(const std::string& jobSha256) override {
        records::Counters c;
        for (const auto& r : list_) {
            if (r.jobSha256 != jobSha256) continue;
            if (r.result == records::kResultReset)
                c = {};
            else if (r.result == records::kResultPass)
                ++c.passed;
            else if (r.result == records::kResultFail)
                ++c.failed;
        }
        return c;
    }
    std::string location() const override { return "memory"; }

private:
    std::vector<records::UnitRecord> list_;
};

struct KivaBench : bench::OperationRig {
    std::shared_ptr<sim::KivaChip> chip = std::make_shared<sim::KivaChip>();
    KivaBench() : OperationRig("production") { writer.addChip(chip); }
    core::OperationServices services() { return {log, lock, yield, prompter, clock, paths, &link}; }
};

bench::Timed kivaWrites() {
    KivaBench b;
    kiva::KivaFields fields{sampleDat().string(), ""};
    const ivr::IvrKeys keys;
    const bench::Stopwatch watch;
    for (int i = 0; i < kUnits; ++i) {
        kiva::KivaOperations ops(fields, b.services(), keys);
        if (!ops.write()) bench::fatal("Kiva300 write failed");
    }
    return b.link.timed(watch.stop());
}

class Presses final : public production::OperatorTrigger {
public:
    bool waitForStart() override { return left-- > 0; }
    int left = kUnits;
};

bench::Timed kivaLoop(bool durable) {
    KivaBench b;
    const auto dir = bench::dataDir() / "production";
    std::filesystem::create_directories(dir);
    const auto jobFile = dir / "kiva-bench.json";
    const ivr::IvrKeys keys;
    production::JobRequest request;
    request.target = production::Target::Kiva300;
    request.image = sampleDat();
    production::JobError kind;
    std::string error;
    const auto job = production::buildJob(request, jobFile, b.paths.setupIni(), keys, kind, error);
    if (!job) bench::fatal(error);
    std::ofstream(jobFile) << production::jobToJson(*job);
    const auto loaded = production::loadJob(jobFile, error);
    std::filesystem::remove(dir / "records.sqlite");
    std::unique_ptr<records::RecordStore> store;
    if (durable)
        store = records::SqliteRecordStore::open(dir / "records.sqlite", error);
    else
        store = std::make_unique<MemoryStore>();
    if (!loaded || !store) bench::fatal(error);
    production::LoopListener quiet;
    std::atomic<bool> stop{false};
    production::UnitServices unit{b.pane,  b.lock,  b.yield, b.prompter,
                                  b.clock, b.paths, b.link,  keys};
    production::ProductionLoop loop(*loaded, {unit, b.realLink, *store}, quiet, stop);
    production::LoopOptions options;
    options.trigger = production::Trigger::Enter;
    Presses presses;
    const bench::Stopwatch watch;
    const auto result = loop.run(options, &presses);
    const bench::Timed elapsed = watch.stop();
    if (result.passed != kUnits) bench::fatal("Kiva300 loop: a unit failed");
    return b.link.timed(elapsed);
}

bench::Timed hashFull() {
    const auto image = bench::loadImage();
    const bench::Stopwatch watch;
    if (!production::sha256File(image)) bench::fatal("image not hashed");
    return watch.stop();
}

// What the loop pays per unit once the image is known: a stat and a compare.
bench::Timed hashCached() {
    const auto image = bench::loadImage();
    production::ImageHashCache cache;
    if (!cache.hash(image)) bench::fatal("image not hashed");
    const bench::Stopwatch watch;
    for (int i = 0; i < kUnits; ++i)
        if (!cache.hash(image)) bench::fatal("image not hashed");
    const bench::Timed elapsed = watch.stop();
    if (cache.reads() != 1) bench::fatal("the cache read the image again");
    return elapsed;
}

}  // namespace

SONOPROG_SCENARIO("production/kiva-writes-20", kivaWrites, 5);
SONOPROG_SCENARIO("production/kiva-loop-20", [] { return kivaLoop(true); }, 5);
SONOPROG_SCENARIO("production/kiva-loop-20-memory", [] { return kivaLoop(false); }, 5);
SONOPROG_SCENARIO("production/hash-full", hashFull);
SONOPROG_SCENARIO("production/hash-cached-20", hashCached, 5);
