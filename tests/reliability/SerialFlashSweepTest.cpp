// Every serial flash operation on a short image under every transfer fault
// and under seeded random faults.

#include <gtest/gtest.h>

#include <memory>

#include "serialflash/SerialFlashCommands.h"
#include "tests/reliability/Sweep.h"
#include "tests/support/SerialFlashFixture.h"

using namespace sonoprog;
using test::RunRecord;
using test::SweepOperation;

namespace {

enum class SerialFlashOp { Blank, Write, Verify };

// A fresh Setup.ini, chip, image file and tab fields for one run.
struct SerialFlashRig : test::OperationRig {
    SerialFlashRig() : chip(test::SerialFlashImage::makeChip()), bench(dir) {
        writer.addChip(chip);
    }

    RunRecord run(SerialFlashOp op, const test::Arm& arm, std::uint64_t spoil) {
        serialflash::SerialFlashOperations ops(bench.fields, test::servicesOf(*this));
        const auto& image = bench.image;
        if (op == SerialFlashOp::Verify) chip->memory().write(0, image.data(), image.size());
        if (spoil != 0) {
            // One byte the check has to see: inside the image for a verify.
            const std::size_t at =
                (spoil - 1) % (op == SerialFlashOp::Verify ? image.size() : chip->size());
            std::uint8_t b = static_cast<std::uint8_t>(chip->memory().read(at) ^ 0x10);
            chip->memory().write(at, &b, 1);
        }
        auto holds = [&] { return bench.holdsImage(*chip); };
        switch (op) {
            case SerialFlashOp::Blank:
                return test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.blankCheck(); },
                    [&] { return test::SerialFlashImage::blank(*chip); });
            case SerialFlashOp::Write:
                return test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.write(); }, holds);
            case SerialFlashOp::Verify:
                return test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.verify(); }, holds);
        }
        return {};
    }

    std::shared_ptr<sim::SerialFlashChip> chip;
    test::SerialFlashImage bench;
};

SweepOperation serialFlashOperation(SerialFlashOp op, std::string name) {
    SweepOperation s;
    s.name = std::move(name);
    s.closingCodes = {serialflash::byte(serialflash::Code::Disable)};
    s.closingTail = {"  -> Disable chip...", "  -> Done!"};
    s.codes = {serialflash::byte(serialflash::Code::Detect),
               serialflash::byte(serialflash::Code::Erase),
               serialflash::byte(serialflash::Code::WriteBlock),
               serialflash::byte(serialflash::Code::ReadBlock)};
    s.run = [op](const test::Arm& arm, std::uint64_t spoil) {
        SerialFlashRig rig;
        return rig.run(op, arm, spoil);
    };
    return s;
}

// The disable step logs its own result line between the two closing steps.
void expectDisableResult(const RunRecord& run) {
    ASSERT_GE(run.lines.size(), 3u);
    const std::string& result = run.lines[run.lines.size() - 2];
    EXPECT_TRUE(result == "    [O] Finished!" || result.rfind("    [X] ", 0) == 0) << result;
}

}  // namespace

TEST(SerialFlashSweep, BlankCheckFailsCleanlyAtEveryTransfer) {
    auto op = serialFlashOperation(SerialFlashOp::Blank, "serial flash blank check");
    op.closingTail = {"  -> Done!"};
    EXPECT_EQ(test::sweepTransferFaults(op), 2 * 12u);  // detect, ten reads, disable
}

TEST(SerialFlashSweep, WriteFailsCleanlyAtEveryTransfer) {
    auto op = serialFlashOperation(SerialFlashOp::Write, "serial flash write");
    op.closingTail = {"  -> Done!"};
    // detect, erase, three blocks written, three read back, disable
    EXPECT_EQ(test::sweepTransferFaults(op), 2 * 9u);
}

TEST(SerialFlashSweep, VerifyFailsCleanlyAtEveryTransfer) {
    auto op = serialFlashOperation(SerialFlashOp::Verify, "serial flash verify");
    op.closingTail = {"  -> Done!"};
    EXPECT_EQ(test::sweepTransferFaults(op), 2 * 5u);
}

TEST(SerialFlashSweep, TheDisableStepAlwaysReportsItsOwnResult) {
    SerialFlashRig rig;
    auto run = rig.run(
        SerialFlashOp::Write,
        [](sim::VirtualWriter& w, sim::StatusInjector&) { w.failTransfer(4); }, 0);
    expectDisableResult(run);
    EXPECT_EQ(run.lines[run.lines.size() - 2], "    [O] Finished!");
    SerialFlashRig gone;
    auto dead = gone.run(
        SerialFlashOp::Write, [](sim::VirtualWriter& w, sim::StatusInjector&) { w.failFrom(4); },
        0);
    EXPECT_EQ(dead.lines[dead.lines.size() - 2], "    [X] SB failed!");
}

TEST(SerialFlashSweep, SeededFaultsNeverPassDataThatAreNotOnTheChip) {
    std::uint64_t injected = 0;
    for (auto [op, name] : {std::pair{SerialFlashOp::Blank, "serial flash blank check"},
                            std::pair{SerialFlashOp::Write, "serial flash write"},
                            std::pair{SerialFlashOp::Verify, "serial flash verify"}}) {
        auto sweep = serialFlashOperation(op, name);
        sweep.closingTail = {"  -> Done!"};
        injected += test::sweepSeededFaults(sweep, 0x5F1A5Eu + static_cast<unsigned>(op), 200);
    }
    EXPECT_GT(injected, 300u);
}
