// The production loop against the operations it runs: 20 Kiva300 units
// through the loop (trigger, image hash, record) against 20 plain writes,
// the same loop with its records kept in memory (what the loop itself adds,
// the durable record apart), what hashing the image costs per unit, cached
// and in full, and how soon the insertion poll notices a chip.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "bench/BenchSupport.h"
#include "kiva/KivaOperations.h"
#include "production/ImageHash.h"
#include "production/Job.h"
#include "production/ProductionLoop.h"
#include "records/SqliteRecordStore.h"
#include "sim/KivaChip.h"
#include "sim/Socket.h"

using namespace sonoprog;

namespace {

constexpr int kUnits = 20;

std::filesystem::path sampleDat() {
    return std::filesystem::path(SONOPROG_SAMPLES_DIR) / "kiva300-demo.dat";
}

// A store that keeps each job's counters as the records come: the loop's own
// work without the durable commit (an fsync per unit) that the station's file
// pays, and without a copy of every record, which would be this store's cost
// rather than the loop's. The loop never queries its store.
class MemoryStore final : public records::RecordStore {
public:
    bool append(const records::UnitRecord& record) override {
        records::Counters& c = counters_[record.jobSha256];
        if (record.result == records::kResultReset)
            c = {};
        else if (record.result == records::kResultPass)
            ++c.passed;
        else if (record.result == records::kResultFail)
            ++c.failed;
        return true;
    }
    std::vector<records::UnitRecord> query(const records::RecordQuery&) override { return {}; }
    records::Counters counters(const std::string& jobSha256) override {
        const auto it = counters_.find(jobSha256);
        return it == counters_.end() ? records::Counters{} : it->second;
    }
    std::string location() const override { return "memory"; }

private:
    std::map<std::string, records::Counters> counters_;
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

// The Kiva300 job on the sample image, written beside the benchmark's data.
std::optional<production::LoadedJob> kivaJob(const KivaBench& b, const ivr::IvrKeys& keys) {
    const auto dir = bench::dataDir() / "production";
    std::filesystem::create_directories(dir);
    const auto jobFile = dir / "kiva-bench.json";
    production::JobRequest request;
    request.target = production::Target::Kiva300;
    request.image = sampleDat();
    production::JobError kind;
    std::string error;
    const auto job = production::buildJob(request, jobFile, b.paths.setupIni(), keys, kind, error);
    if (!job) bench::fatal(error);
    std::ofstream(jobFile) << production::jobToJson(*job);
    auto loaded = production::loadJob(jobFile, error);
    if (!loaded) bench::fatal(error);
    return loaded;
}

bench::Timed kivaLoop(bool durable) {
    KivaBench b;
    const auto dir = bench::dataDir() / "production";
    const ivr::IvrKeys keys;
    const auto loaded = kivaJob(b, keys);
    std::string error;
    std::filesystem::remove(dir / "records.sqlite");
    std::unique_ptr<records::RecordStore> store;
    if (durable)
        store = records::SqliteRecordStore::open(dir / "records.sqlite", error);
    else
        store = std::make_unique<MemoryStore>();
    if (!store) bench::fatal(error);
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

// How soon the insertion poll notices a chip: from the moment a chip goes in
// to the moment its unit starts. The swaps differ by 41 ms, so the chips go
// in at phases spread over the 250 ms poll interval.
class ReactionListener final : public production::LoopListener {
public:
    explicit ReactionListener(sim::SocketModel& socket) : socket_(socket) {}
    void stateChanged(production::LoopState state) override {
        if (state != production::LoopState::Programming) return;
        if (const auto in = socket_.insertedAt())
            reactions.push_back(
                std::chrono::duration<double>(sim::SocketModel::Clock::now() - *in).count());
        socket_.setSwap(std::chrono::milliseconds(300 + 41 * static_cast<int>(reactions.size())));
    }
    std::vector<double> reactions;

private:
    sim::SocketModel& socket_;
};

constexpr int kInsertions = 6;

// The time is the slowest of the run's insertions; the CPU is the loop's
// while it polls, per insertion.
bench::Timed insertionPoll() {
    KivaBench b;
    const ivr::IvrKeys keys;
    const auto loaded = kivaJob(b, keys);
    // The first chip is in the socket from the start; the others are timed.
    auto socket = std::make_unique<sim::SocketModel>(sim::SocketScript{kInsertions + 1, {}});
    sim::SocketModel& model = *socket;
    socket->setInsertHandler([chip = b.chip] { chip->memory().erase(); });
    b.writer.setSocket(std::move(socket));
    MemoryStore store;
    ReactionListener listener(model);
    std::atomic<bool> stop{false};
    production::UnitServices unit{b.pane,  b.lock,  b.yield, b.prompter,
                                  b.clock, b.paths, b.link,  keys};
    production::ProductionLoop loop(*loaded, {unit, b.realLink, store}, listener, stop);
    production::LoopOptions options;
    options.trigger = production::Trigger::Insert;
    options.units = kInsertions + 1;
    const bench::Stopwatch watch;
    const auto result = loop.run(options, nullptr);
    bench::Timed elapsed = watch.stop();
    if (result.passed != kInsertions + 1 || listener.reactions.size() != kInsertions)
        bench::fatal("insertion poll: a unit failed or a chip was not seen");
    elapsed.seconds = *std::max_element(listener.reactions.begin(), listener.reactions.end());
    elapsed.cpuSeconds /= kInsertions;
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
SONOPROG_SCENARIO(
    "production/kiva-loop-20", [] { return kivaLoop(true); }, 5);
SONOPROG_SCENARIO(
    "production/kiva-loop-20-memory", [] { return kivaLoop(false); }, 5);
SONOPROG_SCENARIO("production/hash-full", hashFull);
SONOPROG_SCENARIO("production/hash-cached-20", hashCached, 5);
SONOPROG_SCENARIO("production/insertion-poll", insertionPoll);
