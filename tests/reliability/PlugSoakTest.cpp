// Thousands of plug and unplug events while serial flash operations run:
// every operation still closes, the state machine stays in step, and neither
// memory nor file descriptors grow.

#include <gtest/gtest.h>

#include "core/YieldHook.h"
#include "link/ConnectionMonitor.h"
#include "tests/reliability/Soak.h"
#include "tests/reliability/Sweep.h"
#include "tests/support/SerialFlashFixture.h"

using namespace sonoprog;

namespace {

// Pulls the cable and plugs it back while an operation runs, by a plan that
// changes from one operation to the next.
struct CableShaker final : core::YieldHook {
    enum class Plan {
        Still,       // nothing happens: the operation must pass
        OutAndBack,  // pulled at the second turn, back at the third
        InTransfer,  // pulled inside the third transfer, back at the next turn
        EveryTurn,   // pulled or plugged at every turn
    };
    explicit CableShaker(sim::VirtualWriter& w) : writer(w) {}

    void begin(Plan p) {
        plan = p;
        turns = 0;
        firstTransfer = writer.transferCount();
        if (!writer.plugged()) toggle();  // each operation starts with the Writer there
    }
    void yield() override {
        ++turns;
        if ((plan == Plan::OutAndBack && (turns == 2 || turns == 3)) || plan == Plan::EveryTurn ||
            (plan == Plan::InTransfer && !writer.plugged()))
            toggle();
    }
    void beforeTransfer(std::uint64_t n) {
        if (plan == Plan::InTransfer && n == firstTransfer + 3 && writer.plugged()) toggle();
    }
    void toggle() {
        if (writer.plugged())
            writer.unplug();
        else
            writer.plug();
        ++events;
    }

    sim::VirtualWriter& writer;
    Plan plan = Plan::Still;
    std::uint64_t turns = 0;
    std::uint64_t firstTransfer = 0;
    std::uint64_t events = 0;
};

}  // namespace

TEST(PlugSoak, PlugEventsWhileOperationsRunLeakNothing) {
    test::OperationRig rig;
    auto chip = test::SerialFlashImage::makeChip();
    rig.writer.addChip(chip);
    rig.writer.setLogging(false);
    test::SerialFlashImage bench(rig.dir);
    std::uint64_t statusShown = 0;
    link::ConnectionMonitor monitor(rig.link, [&](bool) { ++statusShown; });
    monitor.start();
    ASSERT_TRUE(rig.link.connected());

    CableShaker shaker(rig.writer);
    rig.writer.setTransferHook([&](std::uint64_t n) { shaker.beforeTransfer(n); });
    serialflash::SerialFlashOperations ops(
        bench.fields, core::OperationServices{rig.log, rig.lock, shaker, rig.prompter, rig.clock,
                                              rig.paths, &rig.link});

    const std::uint64_t wanted = 10000;
    const int fdsBefore = test::openFdCount();
    long rssAfterWarmUp = 0;
    std::uint64_t operations = 0, passed = 0, undisturbed = 0;
    test::withinDeadline("plug soak", std::chrono::seconds(600), [&] {
        while (shaker.events < wanted) {
            rig.pane = {};
            rig.lock = {};
            rig.prompter.boxes.clear();
            const auto plan = static_cast<CableShaker::Plan>(operations % 4);
            shaker.begin(plan);
            // Undisturbed: a whole write and verify that must pass. Otherwise
            // a blank check on an erased chip, a write or a verify, in turn.
            bool ok = false;
            const std::uint64_t which = (operations / 4) % 3;
            if (plan == CableShaker::Plan::Still) {
                ok = ops.write();
                ASSERT_TRUE(ok) << "operation " << operations;
                rig.pane = {};
                ok = ops.verify();
            } else if (which == 0) {
                chip->memory().erase();
                ok = ops.blankCheck();
            } else if (which == 1) {
                ok = ops.write();
            } else {
                ok = ops.verify();
            }
            ++operations;
            passed += ok;
            // Every run closes and unlocks, whatever the cable did.
            ASSERT_FALSE(rig.lock.locked);
            ASSERT_EQ(rig.pane.texts().back(), "  -> Done!");
            bool failLine = false;
            for (const auto& line : rig.pane.texts()) failLine |= line.rfind("    [X] ", 0) == 0;
            ASSERT_EQ(ok, !failLine) << "a run fails with a fail line, and only then";
            if (plan == CableShaker::Plan::Still) {
                ASSERT_TRUE(ok) << "operation " << operations;
                ++undisturbed;
            }
            // The state machine agrees with the cable after each event.
            ASSERT_EQ(rig.link.connected(), rig.writer.plugged() && rig.writer.isOpen());
            if (operations == 200) rssAfterWarmUp = test::residentKiB();
        }
    });
    const long growth = test::residentKiB() - rssAfterWarmUp;
    EXPECT_GE(shaker.events, wanted);
    EXPECT_GE(statusShown, shaker.events);  // every plug and every unplug shown
    EXPECT_GE(passed, undisturbed);
    EXPECT_LT(passed, operations);
    EXPECT_EQ(test::openFdCount(), fdsBefore);
    EXPECT_LE(growth, test::kRssNoiseKiB) << "resident memory grew by " << growth << " KiB";
    EXPECT_TRUE(rig.writer.protocolErrors().empty());
    test::Figures::record("plug_events", shaker.events);
    test::Figures::record("soak_operations", operations);
    std::printf("plug soak: %llu events, %llu operations (%llu passed), resident growth %ld KiB\n",
                static_cast<unsigned long long>(shaker.events),
                static_cast<unsigned long long>(operations),
                static_cast<unsigned long long>(passed), growth);
}
