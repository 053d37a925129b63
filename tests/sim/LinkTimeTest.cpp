// The virtual Writer's modelled link time: read from writer.ini, waited per
// exchange and per bulk block, and waited asleep.

#include <gtest/gtest.h>

#include <time.h>

#include <chrono>
#include <memory>

#include "core/IniFile.h"
#include "sim/PersistentWriter.h"
#include "sim/VirtualWriter.h"
#include "sim/WriterSettings.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;

namespace {

// Code 0x70 answers and announces one 64-byte block back.
class OneBlockChip final : public sim::ChipModel {
public:
    bool handles(std::uint8_t code) const override { return code == 0x70; }
    std::vector<sim::BulkPhase> command(const sim::Packet&, sim::Packet&) override {
        return {{sim::BulkDirection::In, 64}};
    }
};

std::chrono::nanoseconds processCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// One exchange and its block: two waits.
bool round(sim::VirtualWriter& w) {
    std::uint8_t packet[64] = {0x70};
    std::uint8_t block[64] = {};
    return !w.transfer(link::Endpoint::CommandOut, packet, 64) &&
           !w.transfer(link::Endpoint::ReplyIn, packet, 64) &&
           !w.transfer(link::Endpoint::DataIn, block, 64);
}

}  // namespace

TEST(LinkTime, ReadFromTheWriterSectionAndNeverFatal) {
    using sim::readWriterSettings;
    auto set = readWriterSettings(core::IniFile::fromText("[Writer]\nRoundTripUs=1000\n"));
    EXPECT_EQ(set.roundTripUs, 1000u);
    EXPECT_TRUE(set.warnings.empty());
    EXPECT_EQ(readWriterSettings(core::IniFile::fromText("")).roundTripUs, 0u);
    EXPECT_EQ(
        readWriterSettings(core::IniFile::fromText("[Writer]\nRoundTripUs=0x3E8\n")).roundTripUs,
        1000u);
    EXPECT_EQ(
        readWriterSettings(core::IniFile::fromText("[Writer]\nRoundTripUs=1000000\n")).roundTripUs,
        sim::kMaxRoundTripUs);
    for (const char* bad : {"-1", "1000001", "fast", "1.5"}) {
        auto s = readWriterSettings(
            core::IniFile::fromText(std::string("[Writer]\nRoundTripUs=") + bad + "\n"));
        EXPECT_EQ(s.roundTripUs, 0u) << bad;
        ASSERT_EQ(s.warnings.size(), 1u) << bad;
        EXPECT_EQ(s.warnings[0], std::string("writer.ini: [Writer] RoundTripUs: \"") + bad +
                                     "\" is not a number from 0 to 1000000; passed over");
    }
}

TEST(LinkTime, ThePersistentWriterTakesItFromItsFolder) {
    test::TempDir dir;
    dir.write("w/writer.ini", std::string("[Writer]\nRoundTripUs=1500\nFailFrom=9\n"));
    auto opened = sim::openPersistentWriter(dir / "w", 0);
    ASSERT_TRUE(opened.writer) << opened.error;
    EXPECT_EQ(opened.writer->roundTripUs(), 1500u);
    EXPECT_TRUE(opened.warnings.empty());
    auto plain = sim::openPersistentWriter(dir / "plain", 0);
    ASSERT_TRUE(plain.writer);
    EXPECT_EQ(plain.writer->roundTripUs(), 0u);
}

TEST(LinkTime, EveryExchangeAndBlockIsWaitedAsleep) {
    sim::VirtualWriter w;
    w.addChip(std::make_shared<OneBlockChip>());
    ASSERT_TRUE(w.open());
    constexpr int kRounds = 15;
    constexpr std::uint32_t kUs = 4000;
    w.setRoundTripUs(kUs);

    const auto wallStart = std::chrono::steady_clock::now();
    const auto cpuStart = processCpu();
    for (int i = 0; i < kRounds; ++i) ASSERT_TRUE(round(w)) << i;
    const auto wall = std::chrono::steady_clock::now() - wallStart;
    const auto cpu = processCpu() - cpuStart;

    EXPECT_EQ(w.transferCount(), 2u * kRounds);
    EXPECT_TRUE(w.protocolErrors().empty());
    // Two waits per round: the reply and the block.
    EXPECT_GE(wall, std::chrono::microseconds(2 * kRounds * kUs));
    // Spinning would burn the whole wait; sleeping burns next to nothing.
    EXPECT_LT(cpu, std::chrono::microseconds(kRounds * kUs / 2))
        << "cpu " << cpu.count() << " ns over " << wall.count() << " ns";
}
