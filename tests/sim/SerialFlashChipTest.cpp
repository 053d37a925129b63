#include <gtest/gtest.h>

#include <chrono>
#include <numeric>

#include "sim/StandardWriter.h"
#include "tests/support/SerialFlashFixture.h"

using namespace sonoprog;
using core::Packet;
using sim::SerialFlashChip;

namespace {

struct SerialFlashChipFixture : ::testing::Test {
    test::SerialFlashWriter bench;
    SerialFlashChip& chip = *bench.chip;

    std::uint8_t send(std::uint8_t code, std::uint32_t address = 0, std::uint8_t count = 0,
                      const std::vector<std::uint8_t>& data = {}) {
        Packet command{};
        command[0] = code;
        if (code == 0x30) {
            command[2] = 0x10;
            command[3] = static_cast<std::uint8_t>(address >> 8);
            command[4] = static_cast<std::uint8_t>(address);
        } else {
            core::put24(command, 2, address);
        }
        command[5] = count;
        std::copy(data.begin(), data.end(), command.begin() + 16);
        EXPECT_TRUE(bench.link.Exchange(command, reply));
        return reply[1];
    }
    std::uint8_t detect(std::uint8_t mid, std::uint8_t did) {
        return send(0x30, static_cast<std::uint32_t>(mid) << 8 | did);
    }
    std::vector<std::uint8_t> replyData() const { return {reply.begin() + 16, reply.end()}; }

    Packet reply{};
};

}  // namespace

TEST_F(SerialFlashChipFixture, DetectChecksManufacturerThenDeviceId) {
    EXPECT_EQ(detect(0xC2, 0x14), SerialFlashChip::kManufacturerIdStatus);
    EXPECT_EQ(detect(0xEF, 0x14), SerialFlashChip::kDeviceIdStatus);
    EXPECT_FALSE(chip.inPass());
    EXPECT_EQ(detect(0xEF, 0x13), 0);
    EXPECT_TRUE(chip.inPass());
    EXPECT_EQ(send(0x3F), 0);
    EXPECT_FALSE(chip.inPass());
}

TEST_F(SerialFlashChipFixture, AnswersAnyIdsWhenAskedTo) {
    chip.setAnswerAnyIds(true);
    EXPECT_EQ(detect(0x12, 0x34), 0);
    chip.setIds(0x20, 0x21);  // back to checking
    EXPECT_EQ(detect(0x12, 0x34), SerialFlashChip::kManufacturerIdStatus);
    EXPECT_EQ(detect(0x20, 0x21), 0);
    // The standard Writer's chip takes every device of the table.
    auto standard = sim::makeStandardWriter();
    ASSERT_TRUE(standard->open());
    test::RecordingPrompter prompter;
    link::Link other(*standard, prompter);
    Packet command{};
    command[0] = 0x30, command[2] = 0x10, command[3] = 0xC8, command[4] = 0x15;
    ASSERT_TRUE(other.Exchange(command, reply));
    EXPECT_EQ(reply[1], 0);
}

TEST_F(SerialFlashChipFixture, CommandsOutsideADetectPassAreRefused) {
    EXPECT_EQ(send(0x31), SerialFlashChip::kRefusedStatus);
    EXPECT_EQ(send(0x32, 0, 1, {0x00}), SerialFlashChip::kRefusedStatus);
    EXPECT_EQ(bench.chipBytes(0, 1)[0], 0xFF);
    EXPECT_EQ(chip.protocolErrors.size(), 2u);
    ASSERT_EQ(detect(0xEF, 0x13), 0);
    EXPECT_EQ(send(0x32, 0, 49), SerialFlashChip::kRefusedStatus);
    EXPECT_EQ(send(0x32, 0, 0), SerialFlashChip::kRefusedStatus);
    EXPECT_EQ(chip.protocolErrors.size(), 4u);
}

TEST_F(SerialFlashChipFixture, WriteProgramsFlashStyleAcrossPageBoundaries) {
    ASSERT_EQ(detect(0xEF, 0x13), 0);
    std::vector<std::uint8_t> data(48);
    std::iota(data.begin(), data.end(), std::uint8_t{0x30});
    EXPECT_EQ(send(0x32, 240, 48, data), 0);  // crosses the page at 256
    EXPECT_EQ(bench.chipBytes(240, 48), data);
    EXPECT_EQ(bench.chipBytes(288, 1)[0], 0xFF);
    // Programming only clears bits.
    EXPECT_EQ(send(0x32, 240, 2, {0x0F, 0xF0}), 0);
    EXPECT_EQ(bench.chipBytes(240, 2), (std::vector<std::uint8_t>{0x30 & 0x0F, 0x31 & 0xF0}));
    // Only the count's bytes are programmed.
    EXPECT_EQ(send(0x32, 1000, 3, std::vector<std::uint8_t>(48, 0x00)), 0);
    EXPECT_EQ(bench.chipBytes(1000, 4), (std::vector<std::uint8_t>{0, 0, 0, 0xFF}));
}

TEST_F(SerialFlashChipFixture, ReadReturnsFortyEightBytesWrappingAtTheChipsSize) {
    ASSERT_EQ(detect(0xEF, 0x13), 0);
    std::vector<std::uint8_t> head{1, 2, 3};
    chip.memory().write(0, head.data(), head.size());
    const std::uint32_t size = 1u << 20;
    EXPECT_EQ(send(0x33, size - 2, 1), 0);  // the count does not shorten the reply
    auto data = replyData();
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(data[1], 0xFF);
    EXPECT_EQ(data[2], 1);
    EXPECT_EQ(data[4], 3);
    // An address beyond the chip wraps onto its start, as the address counter does.
    EXPECT_EQ(send(0x33, size + 1, 48), 0);
    EXPECT_EQ(replyData()[0], 2);
    // So does a block written over the end.
    EXPECT_EQ(send(0x32, size - 1, 2, {0x11, 0x22}), 0);
    EXPECT_EQ(bench.chipBytes(size - 1, 1)[0], 0x11);
    EXPECT_EQ(bench.chipBytes(0, 1)[0], 0x01 & 0x22);
}

TEST_F(SerialFlashChipFixture, EraseSetsEveryByteAndTakesItsTime) {
    ASSERT_EQ(detect(0xEF, 0x13), 0);
    EXPECT_EQ(send(0x32, 5000, 2, {0, 0}), 0);
    chip.setEraseTime(std::chrono::milliseconds(40));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(send(0x31), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(bench.chipBytes(5000, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));
}

TEST_F(SerialFlashChipFixture, InjectedStatusesAnswerAndLeaveTheChipAlone) {
    ASSERT_EQ(detect(0xEF, 0x13), 0);
    ASSERT_EQ(send(0x32, 0, 1, {0x00}), 0);
    chip.statuses().failNth(0x31, 1, 0x22);
    EXPECT_EQ(send(0x31), 0x22);
    EXPECT_EQ(bench.chipBytes(0, 1)[0], 0x00);  // not erased
    chip.statuses().failNth(0x32, 2, 0x10);
    EXPECT_EQ(send(0x32, 1, 1, {0x00}), 0x10);
    EXPECT_EQ(bench.chipBytes(1, 1)[0], 0xFF);
    EXPECT_EQ(chip.statuses().count(0x32), 2u);
    chip.statuses().failNth(0x30, 2, 1);
    EXPECT_EQ(detect(0xEF, 0x13), 1);
}

TEST_F(SerialFlashChipFixture, SizeIsConfigurableUpTo16MiB) {
    chip.setSize(4096);
    EXPECT_EQ(chip.size(), 4096u);
    chip.setSize(std::size_t{1} << 26);
    EXPECT_EQ(chip.size(), SerialFlashChip::kMaxSize);
    EXPECT_EQ(bench.chipBytes(SerialFlashChip::kMaxSize - 1, 1)[0], 0xFF);
}
