// A thousand Tarn20 write-and-verify cycles of a small image on one virtual
// Writer: every cycle passes, and neither memory nor file descriptors grow.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/reliability/Soak.h"
#include "tests/reliability/Sweep.h"
#include "tests/support/TarnFixture.h"

using namespace sonoprog;

TEST(TarnSoak, WriteAndVerifyCyclesLeakNothing) {
    test::OperationRig rig;
    auto chip = std::make_shared<sim::TarnChip>();
    rig.writer.addChip(chip);
    rig.writer.setLogging(false);
    test::TarnImage bench(rig.dir);
    tarn::TarnOperations ops(bench.fields, test::servicesOf(rig));

    const int cycles = test::scaled(1000, 1000);
    const int fdsBefore = test::openFdCount();
    long rssAfterWarmUp = 0;
    int passed = 0;
    test::withinDeadline("Tarn20 soak", std::chrono::seconds(600), [&] {
        for (int cycle = 0; cycle < cycles; ++cycle) {
            // A minute later each cycle, as on the bench, so each log file is new.
            rig.clock.now.tm_min = cycle % 60;
            rig.clock.now.tm_hour = (cycle / 60) % 24;
            chip->erase();  // a fresh chip in the socket
            rig.pane = {};
            rig.lock = {};  // the recorders keep every event; only the program must not grow
            const bool wrote = ops.write();
            std::filesystem::remove(ops.lastFile());
            const bool verified = ops.verify();
            std::filesystem::remove(ops.lastFile());
            ASSERT_TRUE(wrote && verified) << "cycle " << cycle;
            ASSERT_TRUE(bench.onChip(*chip));
            ++passed;
            if (cycle == 50) rssAfterWarmUp = test::residentKiB();
        }
    });
    const long growth = test::residentKiB() - rssAfterWarmUp;
    EXPECT_EQ(passed, cycles);
    EXPECT_FALSE(rig.lock.locked);
    EXPECT_TRUE(rig.prompter.boxes.empty());
    EXPECT_TRUE(rig.writer.protocolErrors().empty());
    EXPECT_EQ(test::openFdCount(), fdsBefore);
    EXPECT_LE(growth, test::kRssNoiseKiB) << "resident memory grew by " << growth << " KiB";
    test::Figures::record("soak_cycles", static_cast<std::uint64_t>(passed));
    std::printf("Tarn20 soak: %d write-and-verify cycles, resident growth %ld KiB\n", passed,
                growth);
}
