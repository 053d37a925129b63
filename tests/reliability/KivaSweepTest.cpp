// Every Kiva300 operation under every transfer fault and under seeded random faults.

#include <gtest/gtest.h>

#include <memory>

#include "tests/reliability/Sweep.h"
#include "tests/support/KivaFixture.h"

using namespace sonoprog;
using test::RunRecord;
using test::SweepOperation;

namespace {

enum class KivaOp { Blank, Write, Verify };

struct KivaRig : test::OperationRig {
    KivaRig() : chip(std::make_shared<sim::KivaChip>()), bench(dir) { writer.addChip(chip); }

    RunRecord run(KivaOp op, const test::Arm& arm, std::uint64_t spoil) {
        kiva::KivaOperations ops(bench.fields, test::servicesOf(*this), bench.keys);
        if (op == KivaOp::Verify) chip->memory().write(0, bench.image.data(), bench.image.size());
        if (spoil != 0) {
            const std::size_t at = (spoil - 1) % kiva::kKivaSize;
            std::uint8_t b = static_cast<std::uint8_t>(chip->memory().read(at) ^ 0x81);
            chip->memory().write(at, &b, 1);
        }
        RunRecord r;
        switch (op) {
            case KivaOp::Blank:
                r = test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.blankCheck(); },
                    [&] { return test::KivaImage::blank(*chip); });
                break;
            case KivaOp::Write:
                r = test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.write(); },
                    [&] { return bench.onChip(*chip); });
                break;
            case KivaOp::Verify:
                r = test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.verify(); },
                    [&] { return bench.onChip(*chip); });
                break;
        }
        return r;
    }

    std::shared_ptr<sim::KivaChip> chip;
    test::KivaImage bench;
};

SweepOperation kivaOperation(KivaOp op, std::string name) {
    SweepOperation s;
    s.name = std::move(name);
    // A write that fails while programming ends programming; all else ends reading.
    s.closingCodes = {kiva::byte(kiva::Code::EndRead), kiva::byte(kiva::Code::EndProgram)};
    s.closingTail = {"  -> Done!"};
    s.codes = {kiva::byte(kiva::Code::DetectRead), kiva::byte(kiva::Code::ReadBlock),
               kiva::byte(kiva::Code::DetectProgram), kiva::byte(kiva::Code::ProgramBlock),
               kiva::byte(kiva::Code::EndProgram)};
    s.run = [op](const test::Arm& arm, std::uint64_t spoil) {
        KivaRig rig;
        return rig.run(op, arm, spoil);
    };
    return s;
}

// 86 blocks: 85 of 48 bytes and the last of 16.
constexpr std::uint64_t kBlocks = 86;

}  // namespace

TEST(KivaSweep, BlankCheckFailsCleanlyAtEveryTransfer) {
    EXPECT_EQ(test::sweepTransferFaults(kivaOperation(KivaOp::Blank, "Kiva300 blank check")),
              2 * (kBlocks + 2));
}

TEST(KivaSweep, WriteFailsCleanlyAtEveryTransfer) {
    // programming pass (detect, blocks, end), then the reading pass
    EXPECT_EQ(test::sweepTransferFaults(kivaOperation(KivaOp::Write, "Kiva300 write")),
              2 * 2 * (kBlocks + 2));
}

TEST(KivaSweep, VerifyFailsCleanlyAtEveryTransfer) {
    EXPECT_EQ(test::sweepTransferFaults(kivaOperation(KivaOp::Verify, "Kiva300 verify")),
              2 * (kBlocks + 2));
}

TEST(KivaSweep, SeededFaultsNeverPassDataThatAreNotOnTheChip) {
    std::uint64_t injected = 0;
    injected +=
        test::sweepSeededFaults(kivaOperation(KivaOp::Blank, "Kiva300 blank check"), 0xB1, 150);
    injected += test::sweepSeededFaults(kivaOperation(KivaOp::Write, "Kiva300 write"), 0xB2, 200);
    injected += test::sweepSeededFaults(kivaOperation(KivaOp::Verify, "Kiva300 verify"), 0xB3, 150);
    EXPECT_GT(injected, 300u);
}
