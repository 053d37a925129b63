// Every serial flash operation on a short image under every transfer fault
// and under seeded random faults.

#include <gtest/gtest.h>

#include <memory>

#include "ImageSum.h"
#include "NumberText.h"
#include "SerialFlashChip.h"
#include "SerialFlashCommands.h"
#include "SerialFlashOperations.h"
#include "Sweep.h"

using namespace sonoprog;
using test::RunRecord;
using test::SweepOperation;

namespace {

constexpr std::size_t kChipSize = 480;   // ten read blocks for a blank check
constexpr std::size_t kImageSize = 100;  // two whole blocks and a short one
constexpr std::uint8_t kMid = 0xEF;
constexpr std::uint8_t kDid = 0x13;

enum class NorOp { Blank, Write, Verify };

// A fresh Setup.ini, chip, image file and tab fields for one run.
struct NorRig : test::OperationRig {
    NorRig() : chip(std::make_shared<sim::SerialFlashChip>(kChipSize, kMid, kDid)) {
        writer.addChip(chip);
        dir.write("Setup.ini",
                  "[Series Flash List]\nNumber=1\nDevName1=SWEEP480\n"
                  "[SWEEP480]\nSize=480\nMID=0xEF\nDID=0x13\n");
        image = test::patternImage(kImageSize, 0x5A);
        fields.device = "SWEEP480";
        fields.memSize = std::to_string(kChipSize);
        fields.loadFile = dir.write("image.bin", image).string();
        fields.fileSize = std::to_string(kImageSize);
        std::uint32_t sum = 0;
        for (std::uint8_t b : image) sum += b;
        fields.chkSum = core::hex8(sum);
    }

    bool chipHoldsImage() const {
        std::vector<std::uint8_t> on(kImageSize);
        chip->memory().read(0, on.data(), on.size());
        return on == image;
    }
    bool chipBlank() const {
        for (std::size_t i = 0; i < kChipSize; ++i)
            if (chip->memory().read(i) != 0xFF) return false;
        return true;
    }

    RunRecord run(NorOp op, const test::Arm& arm, std::uint64_t spoil) {
        serialflash::SerialFlashOperations ops(fields, log, lock, yield, prompter, files, paths,
                                               link);
        if (op == NorOp::Verify) chip->memory().write(0, image.data(), image.size());
        if (spoil != 0) {
            // One byte the check has to see: inside the image for a verify.
            const std::size_t at = (spoil - 1) % (op == NorOp::Verify ? kImageSize : kChipSize);
            std::uint8_t b = static_cast<std::uint8_t>(chip->memory().read(at) ^ 0x10);
            chip->memory().write(at, &b, 1);
        }
        switch (op) {
            case NorOp::Blank:
                return test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.blankCheck(); },
                    [&] { return chipBlank(); });
            case NorOp::Write:
                return test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.write(); },
                    [&] { return chipHoldsImage(); });
            case NorOp::Verify:
                return test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.verify(); },
                    [&] { return chipHoldsImage(); });
        }
        return {};
    }

    std::shared_ptr<sim::SerialFlashChip> chip;
    std::vector<std::uint8_t> image;
    serialflash::NorFields fields;
};

SweepOperation norOperation(NorOp op, std::string name) {
    SweepOperation s;
    s.name = std::move(name);
    s.closingCodes = {serialflash::kCmdDisable};
    s.closingTail = {"  -> Disable chip...", "  -> Done!"};
    s.codes = {serialflash::kCmdDetect, serialflash::kCmdErase, serialflash::kCmdWriteBlock,
               serialflash::kCmdReadBlock};
    s.run = [op](const test::Arm& arm, std::uint64_t spoil) {
        NorRig rig;
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
    auto op = norOperation(NorOp::Blank, "serial flash blank check");
    op.closingTail = {"  -> Done!"};
    EXPECT_EQ(test::sweepTransferFaults(op), 2 * 12u);  // detect, ten reads, disable
}

TEST(SerialFlashSweep, WriteFailsCleanlyAtEveryTransfer) {
    auto op = norOperation(NorOp::Write, "serial flash write");
    op.closingTail = {"  -> Done!"};
    // detect, erase, three blocks written, three read back, disable
    EXPECT_EQ(test::sweepTransferFaults(op), 2 * 9u);
}

TEST(SerialFlashSweep, VerifyFailsCleanlyAtEveryTransfer) {
    auto op = norOperation(NorOp::Verify, "serial flash verify");
    op.closingTail = {"  -> Done!"};
    EXPECT_EQ(test::sweepTransferFaults(op), 2 * 5u);
}

TEST(SerialFlashSweep, TheDisableStepAlwaysReportsItsOwnResult) {
    NorRig rig;
    auto run = rig.run(
        NorOp::Write, [](sim::VirtualWriter& w, sim::StatusInjector&) { w.failTransfer(4); }, 0);
    expectDisableResult(run);
    EXPECT_EQ(run.lines[run.lines.size() - 2], "    [O] Finished!");
    NorRig gone;
    auto dead = gone.run(
        NorOp::Write, [](sim::VirtualWriter& w, sim::StatusInjector&) { w.failFrom(4); }, 0);
    EXPECT_EQ(dead.lines[dead.lines.size() - 2], "    [X] SB failed!");
}

TEST(SerialFlashSweep, SeededFaultsNeverPassDataThatAreNotOnTheChip) {
    std::uint64_t injected = 0;
    for (auto [op, name] : {std::pair{NorOp::Blank, "serial flash blank check"},
                            std::pair{NorOp::Write, "serial flash write"},
                            std::pair{NorOp::Verify, "serial flash verify"}}) {
        auto sweep = norOperation(op, name);
        sweep.closingTail = {"  -> Done!"};
        injected += test::sweepSeededFaults(sweep, 0x5F1A5Eu + static_cast<unsigned>(op), 200);
    }
    EXPECT_GT(injected, 300u);
}
