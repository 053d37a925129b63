#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "ivr/Ivr2bin.h"
#include "kiva/KivaCommands.h"
#include "production/ImageHash.h"
#include "production/ProductionLoop.h"
#include "production/WorkerLines.h"
#include "records/RecordStore.h"
#include "sim/KivaChip.h"
#include "sim/SerialFlashChip.h"
#include "sim/TarnChip.h"
#include "tests/production/ProductionRig.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {
namespace {

using production::JobRequest;
using production::LoopOptions;
using production::LoopState;
using production::Target;
using production::Trigger;

LoopOptions insertOptions(long long units) {
    LoopOptions o;
    o.units = units;
    o.trigger = Trigger::Insert;
    o.operatorName = "Ana";
    o.writerIdentity = "sim:/bench/1";
    return o;
}

JobRequest kivaRequest(const std::filesystem::path& dat) {
    JobRequest r;
    r.target = Target::Kiva300;
    r.image = dat;
    r.name = "Door chime";
    return r;
}

TEST(ProductionLoop, ScriptedSocketWithBadChipsRecordsEveryUnit) {
    ProductionRig rig(sim::SocketScript{6, {3, 5}});
    const auto job = rig.makeJob(kivaRequest(rig.kivaImage()));
    const auto result = rig.run(job, insertOptions(6));

    EXPECT_FALSE(result.aborted);
    EXPECT_EQ(result.passed, 4);
    EXPECT_EQ(result.failed, 2);
    EXPECT_EQ(production::totalLine(result), "TOTAL 6 PASS 4 FAIL 2 YIELD 66.7%");
    ASSERT_EQ(rig.events.outcomes.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        const auto& o = rig.events.outcomes[i];
        EXPECT_EQ(o.n, static_cast<long long>(i + 1));
        const bool bad = i == 2 || i == 4;
        EXPECT_EQ(o.passed, !bad) << i;
        EXPECT_EQ(o.failure, bad ? "VDD failed!" : "") << i;
    }
    EXPECT_EQ(production::unitSummaryLine(rig.events.outcomes[2]).substr(0, 11), "UNIT 3 FAIL");
    EXPECT_EQ(rig.events.counters.back(), (records::Counters{4, 2}));
    EXPECT_EQ(rig.events.counters.front(), (records::Counters{1, 0}));
    EXPECT_TRUE(rig.events.pollFailures.empty());
    EXPECT_TRUE(rig.prompter.boxes.empty());

    const auto all = rig.store->query({});
    ASSERT_EQ(all.size(), 6u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto& r = all[i];
        const bool bad = i == 2 || i == 4;
        EXPECT_EQ(r.id, rig.events.outcomes[i].recordId);
        EXPECT_EQ(records::normaliseUtcTime(r.time), r.time);
        EXPECT_EQ(r.station, records::stationName());
        EXPECT_EQ(r.operatorName, "Ana");
        EXPECT_EQ(r.jobName, "Door chime");
        EXPECT_EQ(r.jobSha256, job.fileSha256);
        EXPECT_EQ(r.imageSha256, job.job.imageSha256);
        EXPECT_EQ(r.imageCheckSum, job.job.checkSum);
        EXPECT_EQ(r.target, "kiva300");
        EXPECT_EQ(r.device, "");
        EXPECT_EQ(r.writer, "sim:/bench/1");
        EXPECT_EQ(r.result, bad ? "fail" : "pass");
        EXPECT_EQ(r.failingStep, bad ? "  -> Chip detect..." : "");
        EXPECT_EQ(r.failLine, bad ? "    [X]  VDD failed!" : "");
        EXPECT_GE(r.durationMs, 0);
        EXPECT_EQ(r.pgmLog, "");
        EXPECT_EQ(r.vrfLog, "");
        EXPECT_TRUE(r.mirrored.empty());
    }
    // Each good chip was really programmed: its verify pass said so.
    EXPECT_GE(rig.pane.clears, 6);
    // The socket ran out exactly at the last unit.
    EXPECT_EQ(rig.writer->socket()->chipNumber(), 6u);
    EXPECT_EQ(rig.events.states.back(), LoopState::Stopped);
}

class ScriptedTrigger final : public production::OperatorTrigger {
public:
    explicit ScriptedTrigger(int presses) : presses_(presses) {}
    bool waitForStart() override { return presses_-- > 0; }

private:
    int presses_;
};

TEST(ProductionLoop, CountersCarryOnAcrossRunsUntilAReset) {
    ProductionRig rig;  // a chip always in the socket
    const auto job = rig.makeJob(kivaRequest(rig.kivaImage()));
    LoopOptions options;
    options.trigger = Trigger::Enter;
    ScriptedTrigger two(2);
    rig.run(job, options, &two);
    EXPECT_EQ(rig.events.counters.back(), (records::Counters{2, 0}));
    // A new run of the same job (after a restart) counts on from the records.
    rig.chips.kiva->setDetectStatus(0x23, 0x10);
    ScriptedTrigger one(1);
    rig.run(job, options, &one);
    EXPECT_EQ(rig.events.counters.back(), (records::Counters{2, 1}));

    production::LoopServices services{
        {rig.pane, rig.lock, rig.yield, rig.prompter, rig.clock, rig.paths, *rig.link, rig.keys},
        *rig.link,
        *rig.store};
    production::ProductionLoop loop(job, services, rig.events, rig.stop);
    ASSERT_TRUE(records::resetCounters(*rig.store, loop.recordBase(options)));
    EXPECT_EQ(rig.store->counters(job.fileSha256), (records::Counters{}));
    rig.chips.kiva->setDetectStatus(0x23, 0);
    ScriptedTrigger again(1);
    rig.run(job, options, &again);
    EXPECT_EQ(rig.events.counters.back(), (records::Counters{1, 0}));
    EXPECT_EQ(rig.store->query({}).size(), 5u);  // four units and the reset
}

TEST(ProductionLoop, TarnUnitWritesVerifiesAndRecordsItsMirroredPages) {
    ProductionRig rig(sim::SocketScript{2, {}});
    // A data page that fails its write check but stays within Allow Error on verify.
    rig.chips.tarn->setBadPage(18, 2);
    JobRequest request;
    request.target = Target::Tarn20;
    request.image = rig.tarnImage(20);
    const auto job = rig.makeJob(request);
    EXPECT_EQ(job.job.writePages, 20u);
    const auto result = rig.run(job, insertOptions(2));
    ASSERT_EQ(rig.events.outcomes.size(), 2u);
    EXPECT_EQ(result.passed, 2) << rig.events.outcomes[0].failingStep << " / "
                                << rig.events.outcomes[0].failLine;
    const auto all = rig.store->query({});
    ASSERT_EQ(all.size(), 2u);
    for (const auto& r : all) {
        EXPECT_EQ(r.target, "tarn20");
        EXPECT_EQ(r.mirrored, (std::vector<records::MirroredPage>{{18, 0x1E480}}));
        EXPECT_NE(r.pgmLog.find("PGM_"), std::string::npos) << r.pgmLog;
        EXPECT_NE(r.vrfLog.find("VRF_"), std::string::npos) << r.vrfLog;
        EXPECT_TRUE(std::filesystem::exists(r.pgmLog));
    }
}

TEST(ProductionLoop, SerialFlashJobBlankChecksThenWrites) {
    ProductionRig rig(sim::SocketScript{1, {}});
    std::vector<std::uint8_t> image(5000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 251);
    JobRequest request;
    request.target = Target::SerialFlash;
    request.device = "W25Q80";
    request.blankCheck = true;
    request.image = rig.dir.write("flash.bin", image);
    const auto job = rig.makeJob(request);
    const auto result = rig.run(job, insertOptions(1));
    EXPECT_EQ(result.passed, 1) << (rig.events.outcomes.empty() ? ""
                                                                : rig.events.outcomes[0].failure);
    const auto all = rig.store->query({});
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].target, "serialflash");
    EXPECT_EQ(all[0].device, "W25Q80");
    std::vector<std::uint8_t> chip(image.size());
    rig.chips.serialFlash->memory().read(0, chip.data(), chip.size());
    EXPECT_EQ(chip, image);
}

TEST(ProductionLoop, ChangedImageStopsTheRunBeforeTheNextUnit) {
    ProductionRig rig(sim::SocketScript{4, {}});
    const auto job = rig.makeJob(kivaRequest(rig.kivaImage()));
    const auto image = production::imagePath(job.job, job.file);
    std::uint64_t transfersAtChange = 0;
    rig.events.onUnit = [&](const production::UnitOutcome& o) {
        if (o.n != 1) return;
        std::ofstream(image, std::ios::app) << "x";
        transfersAtChange = rig.writer->transferCount();
    };
    const auto result = rig.run(job, insertOptions(4));
    EXPECT_TRUE(result.aborted);
    EXPECT_EQ(result.total(), 1);
    ASSERT_EQ(rig.events.aborts.size(), 1u);
    EXPECT_NE(rig.events.aborts[0].find("has changed"), std::string::npos) << rig.events.aborts[0];
    EXPECT_EQ(rig.store->query({}).size(), 1u);
    // Only the polls went out after the change: no chip was programmed.
    EXPECT_EQ(rig.writer->socket()->chipNumber(), 2u);
    EXPECT_EQ(rig.events.outcomes.size(), 1u);
    EXPECT_GT(rig.writer->transferCount(), transfersAtChange);

    // Missing at the start: nothing at all goes to the Writer.
    ProductionRig other(sim::SocketScript{1, {}});
    const auto job2 = other.makeJob(kivaRequest(other.kivaImage()));
    std::filesystem::remove(production::imagePath(job2.job, job2.file));
    const auto r2 = other.run(job2, insertOptions(1));
    EXPECT_TRUE(r2.aborted);
    EXPECT_EQ(r2.total(), 0);
    EXPECT_EQ(other.writer->transferCount(), 0u);
    EXPECT_NE(other.events.aborts.at(0).find("missing"), std::string::npos);
}

TEST(ProductionLoop, RecordsThatCannotBeWrittenStopTheRunBeforeAnyChipIsTouched) {
    ProductionRig rig(sim::SocketScript{2, {}});
    const auto job = rig.makeJob(kivaRequest(rig.kivaImage()));
    // The file refuses every new record, whoever runs the test (root
    // writes a read-only file all the same).
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(rig.store->location().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TRIGGER refuse BEFORE INSERT ON units "
                           "BEGIN SELECT RAISE(ABORT, 'the disk refuses'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    const auto result = rig.run(job, insertOptions(2));
    EXPECT_TRUE(result.aborted);
    EXPECT_EQ(result.total(), 0);
    EXPECT_EQ(rig.writer->transferCount(), 0u) << "not even a poll";
    ASSERT_EQ(rig.events.aborts.size(), 1u);
    EXPECT_NE(rig.events.aborts[0].find("cannot be written: the disk refuses"), std::string::npos)
        << rig.events.aborts[0];
}

TEST(ProductionLoop, StopDuringAUnitLetsItFinishWithItsClosingCommand) {
    ProductionRig rig(sim::SocketScript{5, {}});
    const auto job = rig.makeJob(kivaRequest(rig.kivaImage()));
    rig.writer->setLogging(true);
    bool armed = false;
    int sinceUnit1 = 0;
    rig.events.onUnit = [&](const production::UnitOutcome& o) { armed = o.n == 1; };
    // Three polls (six exchanges) lead to unit 2; its sixth transfer is in
    // the middle of its programming pass.
    rig.writer->setTransferHook([&](std::uint64_t) {
        if (armed && ++sinceUnit1 == 12) rig.stop = true;
    });
    const auto result = rig.run(job, insertOptions(5));
    EXPECT_TRUE(rig.stop);
    EXPECT_EQ(result.total(), 2);
    EXPECT_EQ(result.passed, 2);
    EXPECT_EQ(rig.store->query({}).size(), 2u);
    // The last command the Writer got closes unit 2's reading pass.
    const auto codes = rig.writer->commandCodes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), 0x22);
}

TEST(ProductionLoop, EnterTriggerRunsOneUnitPerPressUntilInputEnds) {
    ProductionRig rig;  // no socket model: a chip is always there
    const auto job = rig.makeJob(kivaRequest(rig.kivaImage()));
    ScriptedTrigger presses(3);
    rig.writer->setLogging(true);
    LoopOptions options;
    options.trigger = Trigger::Enter;
    const auto result = rig.run(job, options, &presses);
    EXPECT_EQ(result.passed, 3);
    EXPECT_EQ(rig.events.states.front(), LoopState::WaitingForOperator);
    // Nothing but the units' own commands: no poll in enter mode.
    const auto codes = rig.writer->commandCodes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 0x23);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x23), 3);
}

TEST(ProductionLoop, FailingPollIsReportedOnceAndRetried) {
    ProductionRig rig(sim::SocketScript{1, {}});
    const auto job = rig.makeJob(kivaRequest(rig.kivaImage()));
    // The first three polls' detects fail on the link.
    rig.writer->setTransferHook([&](std::uint64_t n) {
        if (n <= 5 && n % 2 == 1) rig.writer->failTransfer(n);
    });
    const auto result = rig.run(job, insertOptions(1));
    EXPECT_EQ(result.passed, 1);
    EXPECT_EQ(rig.events.pollFailures.size(), 1u);
    EXPECT_TRUE(rig.prompter.boxes.empty());  // no error box per poll
}

// The image is rewritten in place (same size, other bytes) at the unit's first
// transfer, after the run has read it and before any page is programmed.
TEST(ProductionLoop, UnitsProgramTheImageAsTheRunReadItAndAChangeStopsTheNextUnit) {
    struct Case {
        Target target;
        bool blankCheck;
    };
    for (const Case c : {Case{Target::Tarn20, false}, Case{Target::SerialFlash, true},
                         Case{Target::Kiva300, true}}) {
        SCOPED_TRACE(std::string(production::targetName(c.target)));
        ProductionRig rig;  // a chip always in the socket
        JobRequest request;
        request.target = c.target;
        request.blankCheck = c.blankCheck;
        if (c.target == Target::SerialFlash) request.device = "W25Q80";
        request.image = c.target == Target::Kiva300 ? rig.kivaImage() : rig.tarnImage(20);
        const auto job = rig.makeJob(request);
        const auto original = readFile(request.image);
        auto rewritten = original;
        for (std::size_t i = rewritten.size() / 2; i < rewritten.size(); ++i) rewritten[i] ^= 0x5A;
        rig.writer->setTransferHook([&](std::uint64_t n) {
            if (n == 1)
                std::ofstream(request.image, std::ios::binary | std::ios::trunc)
                    .write(reinterpret_cast<const char*>(rewritten.data()),
                           static_cast<std::streamsize>(rewritten.size()));
        });
        ScriptedTrigger presses(2);
        LoopOptions options;
        options.trigger = Trigger::Enter;
        const auto result = rig.run(job, options, &presses);

        EXPECT_EQ(readFile(request.image), rewritten);
        EXPECT_EQ(result.passed, 1);
        EXPECT_EQ(result.total(), 1);  // unit 2 never started
        EXPECT_TRUE(result.aborted);
        ASSERT_EQ(rig.events.aborts.size(), 1u);
        EXPECT_NE(rig.events.aborts[0].find("has changed"), std::string::npos);
        const auto all = rig.store->query({});
        ASSERT_EQ(all.size(), 1u);
        EXPECT_EQ(all[0].imageSha256,
                  production::sha256Hex(std::string_view(
                      reinterpret_cast<const char*>(original.data()), original.size())));
        std::vector<std::uint8_t> expected = original;
        sim::ChipMemory* memory = nullptr;
        if (c.target == Target::Tarn20) memory = &rig.chips.tarn->memory();
        if (c.target == Target::SerialFlash) memory = &rig.chips.serialFlash->memory();
        if (c.target == Target::Kiva300) {
            memory = &rig.chips.kiva->memory();
            expected.assign(kiva::kKivaSize, 0);
            const auto copy = rig.dir.write("original.dat", original);
            ASSERT_EQ(ivr::IvrToImage(copy.string(), expected.data(), expected.size(), rig.keys),
                      ivr::kIvrOk);
        }
        std::vector<std::uint8_t> chip(expected.size());
        memory->read(0, chip.data(), chip.size());
        EXPECT_EQ(chip, expected);
    }
}

// A job file edited after it was made: refused when it is opened or before
// its run asks for a chip, never recorded against units.
TEST(ProductionLoop, AJobThatDisagreesWithItsImageNeverReachesTheWriter) {
    struct Case {
        Target target;
        const char* pointer;
        nlohmann::json value;
        const char* why;  // in the refusal
    };
    const Case cases[] = {
        {Target::Tarn20, "/image/checksum", "FFFFFFFF", "check sum FFFFFFFF"},
        {Target::SerialFlash, "/image/checksum", "00000000", "check sum 00000000"},
        {Target::Kiva300, "/image/checksum", "FFFF", "check word FFFF"},
        {Target::Tarn20, "/steps/info_page", 4294967295u, "info_page"},
        {Target::Tarn20, "/steps/info_page", 21, "info page 21"},
        {Target::Tarn20, "/steps/write_pages", 0, "user area"},
        {Target::Tarn20, "/steps/write_pages", 21, "writes 21 pages"},
        {Target::Tarn20, "/steps/start_page", 0x1E480 - 19, "user area"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pointer) + " = " + c.value.dump());
        ProductionRig rig;
        JobRequest request;
        request.target = c.target;
        if (c.target == Target::SerialFlash) request.device = "W25Q80";
        request.image = c.target == Target::Kiva300 ? rig.kivaImage() : rig.tarnImage(20);
        if (c.target == Target::Tarn20) request.startPage = 1;
        const auto made = rig.makeJob(request);
        auto j = nlohmann::json::parse(std::ifstream(made.file));
        j[nlohmann::json::json_pointer(c.pointer)] = c.value;
        std::ofstream(made.file) << j.dump(2);

        std::string why;
        if (const auto loaded = production::loadJob(made.file, why)) {
            ScriptedTrigger presses(1);
            LoopOptions options;
            options.trigger = Trigger::Enter;
            const auto result = rig.run(*loaded, options, &presses);
            EXPECT_TRUE(result.aborted);
            EXPECT_EQ(result.total(), 0);
            ASSERT_EQ(rig.events.aborts.size(), 1u);
            why = rig.events.aborts[0];
        }
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
        EXPECT_EQ(rig.writer->transferCount(), 0u);
        EXPECT_TRUE(rig.store->query({}).empty());
    }
}

TEST(ProductionLoop, FailMessageDropsBlanksAndMark) {
    EXPECT_EQ(production::failMessage("    [X]  VDD failed!"), "VDD failed!");
    EXPECT_EQ(production::failMessage("   [X] VCC failed!"), "VCC failed!");
    EXPECT_EQ(production::failMessage("    [!] Cancel!"), "Cancel!");
    EXPECT_EQ(production::failMessage("Failed!"), "Failed!");
    EXPECT_EQ(production::failMessage("   "), "");
}

TEST(ProductionLoop, SummaryObjectsAreJson) {
    production::UnitOutcome o;
    o.n = 3;
    o.passed = false;
    o.seconds = 0.4321;
    o.failure = "VDD \"x\" failed!";
    o.recordId = "abc";
    EXPECT_EQ(production::unitSummaryLine(o), "UNIT 3 FAIL 0.4s VDD \"x\" failed!");
    EXPECT_EQ(
        production::unitSummaryJson(o),
        R"({"kind":"unit","n":3,"result":"fail","seconds":0.432,"failure":"VDD \"x\" failed!","record":"abc"})");
    o.passed = true;
    EXPECT_EQ(
        production::unitSummaryJson(o),
        R"({"kind":"unit","n":3,"result":"pass","seconds":0.432,"failure":null,"record":"abc"})");
    EXPECT_EQ(production::totalJson({4, 2, false}),
              R"({"kind":"total","units":6,"passed":4,"failed":2,"yield":66.7})");
}

}  // namespace
}  // namespace sonoprog::test

namespace sonoprog::test {
namespace {

// A Writer stops after N failed units in a row; a pass starts the count again.
TEST(ProductionLoop, StopsAfterFailuresInARow) {
    struct Case {
        long long stopAfterFails;
        std::set<std::uint32_t> bad;  // of 6 chips
        long long units;              // run before the loop ended
        bool stopped;
    };
    const Case cases[] = {
        {0, {1, 2, 3, 4, 5, 6}, 6, false},  // off: every chip is tried
        {1, {2, 4}, 2, true},
        {3, {1, 2, 4, 5, 6}, 6, true},  // the pass at 3 interrupts the first run of two
        {3, {1, 2, 4, 5}, 6, false},
        {3, {4, 5, 6}, 6, true},
        {3, {1, 2, 3, 4}, 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("after " + std::to_string(c.stopAfterFails) + ", units run " +
                     std::to_string(c.units));
        ProductionRig rig(sim::SocketScript{6, c.bad});
        const auto job = rig.makeJob(kivaRequest(rig.kivaImage()));
        auto options = insertOptions(6);
        options.stopAfterFails = c.stopAfterFails;
        const auto result = rig.run(job, options);
        EXPECT_EQ(result.total(), c.units);
        EXPECT_EQ(result.failStreak, c.stopped);
        EXPECT_EQ(result.aborted, c.stopped);
        EXPECT_EQ(rig.store->query({}).size(), static_cast<std::size_t>(c.units));
        if (c.stopped) {
            ASSERT_EQ(rig.events.aborts.size(), 1u);
            EXPECT_EQ(rig.events.aborts[0],
                      std::to_string(c.stopAfterFails) +
                          " failures in a row: check the socket and the image");
            EXPECT_EQ(rig.events.states.back(), LoopState::Stopped);
        } else {
            EXPECT_TRUE(rig.events.aborts.empty());
        }
    }
}

// The run ends once the lot's quantity has passed, however many failed on
// the way, and every unit says how many are still to pass; each record
// carries the lot.
TEST(ProductionLoop, QuantityEndsTheRunWhenEnoughUnitsHavePassed) {
    ProductionRig rig(sim::SocketScript{10, {2, 3}});
    const auto job = rig.makeJob(kivaRequest(rig.kivaImage()));
    LoopOptions options = insertOptions(0);
    options.units.reset();
    options.quantity = 3;
    options.lot = "L-0042";
    const auto result = rig.run(job, options);
    EXPECT_TRUE(result.quantityReached);
    EXPECT_FALSE(result.aborted);
    EXPECT_EQ(result.passed, 3);
    EXPECT_EQ(result.failed, 2);
    std::vector<long long> remaining;
    for (const auto& o : rig.events.outcomes) remaining.push_back(o.remaining.value_or(-1));
    EXPECT_EQ(remaining, (std::vector<long long>{2, 2, 2, 1, 0}));
    EXPECT_EQ(rig.writer->socket()->chipNumber(), 5u);  // no sixth chip was asked for
    const auto all = rig.store->query({});
    ASSERT_EQ(all.size(), 5u);
    for (const auto& r : all) EXPECT_EQ(r.lot, "L-0042");
}

TEST(ProductionLoop, SocketWearIsToldWhenItCrossesNinetyPercentAndTheLife) {
    struct Case {
        long long insertions, life;
        production::SocketWear wear;
    };
    using W = production::SocketWear;
    for (const auto& c : {Case{5, 0, W::Fine}, Case{449, 500, W::Fine}, Case{450, 500, W::NearLife},
                          Case{499, 500, W::NearLife}, Case{500, 500, W::AtLife},
                          Case{900, 500, W::AtLife}, Case{8, 10, W::Fine}, Case{9, 10, W::NearLife},
                          Case{4, 5, W::Fine}, Case{5, 5, W::AtLife}})
        EXPECT_EQ(production::socketWear(c.insertions, c.life), c.wear)
            << c.insertions << " of " << c.life;

    // A socket with 17 insertions behind it and a life of 20: the loop warns
    // at its 18th (90%) and its 20th, once each.
    ProductionRig rig(sim::SocketScript{4, {2}});
    const auto job = rig.makeJob(kivaRequest(rig.kivaImage()));
    auto options = insertOptions(4);
    options.socketLife = 20;
    production::LoopServices services{
        {rig.pane, rig.lock, rig.yield, rig.prompter, rig.clock, rig.paths, *rig.link, rig.keys},
        *rig.link,
        *rig.store};
    production::ProductionLoop loop(job, services, rig.events, rig.stop);
    for (int i = 0; i < 17; ++i) {
        auto r = loop.recordBase(options);
        r.id = records::newRecordId();
        r.time = records::utcTimeNow();
        r.result = std::string(i % 4 ? records::kResultPass : records::kResultFail);
        ASSERT_TRUE(rig.store->append(r)) << rig.store->lastError();
    }
    ASSERT_TRUE(records::resetCounters(*rig.store, loop.recordBase(options)));  // no insertion

    struct Worn final : production::LoopListener {
        void socketWorn(const std::string& m, production::SocketWear w) override {
            told.emplace_back(m, w);
        }
        void unitFinished(const production::UnitOutcome& o, const records::Counters&) override {
            counts.push_back(o.socketInsertions.value_or(-1));
        }
        std::vector<std::pair<std::string, production::SocketWear>> told;
        std::vector<long long> counts;
    } worn;
    options.pollInterval = std::chrono::milliseconds(0);
    production::ProductionLoop(job, services, worn, rig.stop).run(options, nullptr);
    EXPECT_EQ(worn.counts, (std::vector<long long>{18, 19, 20, 21}));
    ASSERT_EQ(worn.told.size(), 2u);
    EXPECT_EQ(worn.told[0],
              (std::pair<std::string, production::SocketWear>{
                  "The socket of sim:/bench/1 has had 18 of its 20 insertions; replace it soon.",
                  W::NearLife}));
    EXPECT_EQ(worn.told[1], (std::pair<std::string, production::SocketWear>{
                                "The socket of sim:/bench/1 has had 20 insertions, its life is "
                                "20; replace it.",
                                W::AtLife}));

    // A run that starts past the life says so at once, before any chip.
    worn.told.clear();
    rig.stop = true;
    production::ProductionLoop(job, services, worn, rig.stop).run(options, nullptr);
    ASSERT_EQ(worn.told.size(), 1u);
    EXPECT_EQ(worn.told[0].second, W::AtLife);
}

// A serial flash job is held to its device as this station's Setup.ini has it:
// by job new, when the job is opened and before a run's first unit. A device
// the Writer cannot take or one smaller than the image records no unit.
TEST(ProductionLoop, ASerialFlashJobIsHeldToItsDeviceInSetupIni) {
    const struct {
        const char* device;
        const char* why;
    } cases[] = {
        {"TINY", "2048 bytes do not fit TINY (1024 bytes)"},
        {"NOIDS", "no serial flash device \"NOIDS\""},
        {"HUGE", "its Size 33554432 is beyond the 16777216 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        ProductionRig rig;
        std::ofstream(rig.paths.setupIni(), std::ios::app)
            << "\n[TINY]\nSize=1024\nMID=0xEF\nDID=0x10\n[NOIDS]\nSize=1048576\n"
               "[HUGE]\nSize=33554432\nMID=0xEF\nDID=0x19\n";
        JobRequest request;
        request.target = Target::SerialFlash;
        request.device = c.device;
        request.image = rig.tarnImage(2);
        production::JobError kind;
        std::string why;
        EXPECT_FALSE(production::buildJob(request, rig.dir / "j.json", rig.paths.setupIni(),
                                          rig.keys, kind, why));
        EXPECT_NE(why.find(c.why), std::string::npos) << why;

        // A job made for another device and edited to name this one.
        request.device = "W25Q80";
        const auto made = rig.makeJob(request);
        auto j = nlohmann::json::parse(std::ifstream(made.file));
        j["device"] = c.device;
        std::ofstream(made.file) << j.dump(2);
        const auto loaded = production::loadJob(made.file, why);
        ASSERT_TRUE(loaded) << why;
        why = production::jobImageProblem(*loaded, rig.keys, rig.paths.setupIni()).value_or("");
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
        ScriptedTrigger presses(1);
        LoopOptions options;
        options.trigger = Trigger::Enter;
        EXPECT_TRUE(rig.run(*loaded, options, &presses).aborted);
        ASSERT_EQ(rig.events.aborts.size(), 1u);
        EXPECT_NE(rig.events.aborts[0].find(c.why), std::string::npos) << rig.events.aborts[0];
        EXPECT_EQ(rig.writer->transferCount(), 0u);
        EXPECT_TRUE(rig.store->query({}).empty());
    }
}

}  // namespace
}  // namespace sonoprog::test
