// Every Tarn20 operation under every transfer fault (the engineering read,
// which always covers the whole user area, under a spread of them) and under
// seeded random faults.

#include <gtest/gtest.h>

#include <memory>

#include "tests/reliability/Sweep.h"
#include "tests/support/TarnFixture.h"

using namespace sonoprog;
using test::RunRecord;
using test::SweepOperation;

namespace {

enum class TarnOp { Write, Verify, Read };

struct TarnSweepRig : test::OperationRig {
    TarnSweepRig() : chip(std::make_shared<sim::TarnChip>()), bench(dir) { writer.addChip(chip); }

    RunRecord run(TarnOp op, const test::Arm& arm, std::uint64_t spoil) {
        tarn::TarnOperations ops(bench.fields, test::servicesOf(*this));
        if (op != TarnOp::Write) bench.program(*chip);
        if (spoil != 0) {
            // One byte of the range the check covers goes wrong.
            const std::uint32_t span =
                op == TarnOp::Read ? tarn::kUserPages : test::TarnImage::kPages;
            const std::uint32_t p =
                static_cast<std::uint32_t>((spoil - 1) / tarn::kPageSize) % span;
            auto bytes = chip->page(p);
            bytes[(spoil - 1) % tarn::kPageSize] ^= 0x04;
            chip->writePage(p, bytes.data());
        }
        switch (op) {
            case TarnOp::Write:
                return test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.write(); },
                    [&] { return bench.written(*chip); });
            case TarnOp::Verify:
                return test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.verify(); },
                    [&] { return bench.onChip(*chip); });
            case TarnOp::Read:
                return test::OperationRig::run(
                    arm, chip->statuses(), [&] { return ops.read(); },
                    [&] { return test::TarnImage::dumpMatches(*chip, ops.lastFile()); });
        }
        return {};
    }

    std::shared_ptr<sim::TarnChip> chip;
    test::TarnImage bench;
};

SweepOperation tarnOperation(TarnOp op, std::string name) {
    SweepOperation s;
    s.name = std::move(name);
    s.closingCodes = {static_cast<std::uint8_t>(tarn::Code::Release)};
    s.closingTail = {"  -> Done!", "End: 04:50:07"};
    for (std::uint8_t c = 0x10; c <= 0x17; ++c)
        if (c != static_cast<std::uint8_t>(tarn::Code::Release)) s.codes.push_back(c);
    s.run = [op](const test::Arm& arm, std::uint64_t spoil) {
        TarnSweepRig rig;
        return rig.run(op, arm, spoil);
    };
    return s;
}

}  // namespace

TEST(TarnSweep, WriteFailsCleanlyAtEveryTransfer) {
    // detect; two information pages (program 4, three read-backs 12); two data
    // pages (program 4, page sum 1, one read-back 4); release
    EXPECT_EQ(test::sweepTransferFaults(tarnOperation(TarnOp::Write, "Tarn20 write")), 2 * 52u);
}

TEST(TarnSweep, VerifyFailsCleanlyAtEveryTransfer) {
    EXPECT_EQ(test::sweepTransferFaults(tarnOperation(TarnOp::Verify, "Tarn20 verify")), 2 * 18u);
}

TEST(TarnSweep, ReadFailsCleanlyAtTransfersSpreadOverTheWholeUserArea) {
    auto op = tarnOperation(TarnOp::Read, "Tarn20 read");
    op.passLine = "    [O] Finish!";
    // detect, four transfers per page, release
    const std::uint64_t total = 2 + 4ull * tarn::kUserPages;
    std::vector<std::uint64_t> ks;
    for (std::uint64_t k = 1; k <= 41; ++k) ks.push_back(k);  // the first ten pages, every transfer
    const int spread = test::scaled(12, 3);
    for (int i = 1; i <= spread; ++i)
        ks.push_back(total * static_cast<std::uint64_t>(i) / (spread + 1));
    for (std::uint64_t k = total - 5; k <= total; ++k)
        ks.push_back(k);  // the last page and release
    EXPECT_EQ(test::sweepTransferFaults(op, ks, total), 2 * ks.size());
}

TEST(TarnSweep, SeededFaultsNeverPassDataThatAreNotOnTheChip) {
    std::uint64_t injected = 0;
    injected += test::sweepSeededFaults(tarnOperation(TarnOp::Write, "Tarn20 write"), 0x7A4, 300);
    injected += test::sweepSeededFaults(tarnOperation(TarnOp::Verify, "Tarn20 verify"), 0x7A5, 200);
    auto read = tarnOperation(TarnOp::Read, "Tarn20 read");
    read.passLine = "    [O] Finish!";
    read.judgesData = false;  // the dump takes the blocks as they come
    injected += test::sweepSeededFaults(read, 0x7A6, test::scaled(6, 2));
    EXPECT_GT(injected, 400u);
}
