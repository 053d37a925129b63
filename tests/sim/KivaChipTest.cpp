#include <gtest/gtest.h>

#include <memory>

#include "link/Link.h"
#include "sim/KivaChip.h"
#include "sim/StandardWriter.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;
using Pass = sim::KivaChip::Pass;

namespace {

struct KivaChipFixture : ::testing::Test {
    KivaChipFixture() {
        writer.addChip(chip);
        link.Open();
    }
    std::uint8_t send(std::uint8_t code, std::uint8_t n = 0, std::uint8_t fill = 0) {
        core::Packet cmd{}, reply{};
        cmd[0] = code;
        cmd[2] = n;
        for (int i = 16; i < 64; ++i) cmd[i] = fill;
        EXPECT_TRUE(link.Exchange(cmd, reply));
        last = reply;
        return reply[1];
    }
    sim::VirtualWriter writer;
    std::shared_ptr<sim::KivaChip> chip = std::make_shared<sim::KivaChip>();
    test::RecordingPrompter prompter;
    link::Link link{writer, prompter};
    core::Packet last{};
};

}  // namespace

TEST_F(KivaChipFixture, DetectOpensAPassAtZeroAndBlocksMoveItOn) {
    EXPECT_EQ(chip->contents(), std::vector<std::uint8_t>(4096, 0xFF));
    EXPECT_EQ(send(0x23), 0);
    EXPECT_EQ(chip->pass(), Pass::Programming);
    EXPECT_EQ(send(0x24, 48, 0xF0), 0);
    EXPECT_EQ(send(0x24, 10, 0x3C), 0);
    EXPECT_EQ(chip->position(), 58u);
    EXPECT_EQ(send(0x25), 0);
    EXPECT_EQ(chip->pass(), Pass::None);
    // A second programming pass ANDs into what is there.
    send(0x23);
    EXPECT_EQ(chip->position(), 0u);
    send(0x24, 1, 0x0F);
    send(0x25);
    const auto mem = chip->contents();
    EXPECT_EQ(mem[0], 0x00);
    EXPECT_EQ(mem[1], 0xF0);
    EXPECT_EQ(mem[48], 0x3C);
    EXPECT_EQ(mem[58], 0xFF);

    send(0x20);
    EXPECT_EQ(chip->pass(), Pass::Reading);
    send(0x21, 48);
    EXPECT_EQ(last[16], 0x00);
    EXPECT_EQ(last[17], 0xF0);
    send(0x21, 16);
    EXPECT_EQ(last[16], 0x3C);
    EXPECT_EQ(last[16 + 10], 0xFF);
    EXPECT_EQ(chip->position(), 64u);
    send(0x22);
    EXPECT_TRUE(writer.protocolErrors().empty());
}

TEST_F(KivaChipFixture, BlocksOutsideTheirPassOrWithABadCountAreProtocolErrors) {
    EXPECT_NE(send(0x21, 48), 0);  // no pass
    send(0x20);
    EXPECT_NE(send(0x24, 48, 0x00), 0);  // a program block in a reading pass
    EXPECT_NE(send(0x21, 0), 0);
    EXPECT_NE(send(0x21, 49), 0);
    EXPECT_EQ(chip->position(), 0u);
    send(0x22);
    EXPECT_NE(send(0x24, 8, 0x00), 0);  // the pass is closed
    EXPECT_EQ(chip->protocolErrors.size(), 5u);
    EXPECT_EQ(writer.protocolErrors().size(), 5u);
    EXPECT_EQ(chip->contents(), std::vector<std::uint8_t>(4096, 0xFF));

    // Past the chip's end.
    chip->protocolErrors.clear();
    send(0x20);
    for (int i = 0; i < 85; ++i) send(0x21, 48);
    EXPECT_NE(send(0x21, 48), 0);
    EXPECT_EQ(send(0x21, 16), 0);
    EXPECT_EQ(chip->protocolErrors.size(), 1u);
}

TEST_F(KivaChipFixture, DetectStatusesAreInjectable) {
    chip->setDetectStatus(0x23, 0x10);
    EXPECT_EQ(send(0x23), 0x10);
    EXPECT_EQ(chip->pass(), Pass::None);
    EXPECT_EQ(send(0x20), 0);
    chip->setDetectStatus(0x12);
    EXPECT_EQ(send(0x20), 0x12);
    EXPECT_EQ(send(0x23), 0x12);
    chip->setDetectStatus(0);
    chip->statuses().clear();
    chip->statuses().failNth(0x20, 2, 0x20);
    EXPECT_EQ(send(0x20), 0);
    EXPECT_EQ(send(0x20), 0x20);
    EXPECT_EQ(send(0x20), 0);
}

TEST(StandardWriter, HasTheKivaChipInItsSocket) {
    auto writer = sim::makeStandardWriter();
    test::RecordingPrompter prompter;
    link::Link link(*writer, prompter);
    ASSERT_TRUE(link.Open());
    core::Packet cmd{}, reply{};
    cmd[0] = 0x20;
    ASSERT_TRUE(link.Exchange(cmd, reply));
    EXPECT_EQ(reply[1], 0);
    cmd[0] = 0x21;
    cmd[2] = 48;
    ASSERT_TRUE(link.Exchange(cmd, reply));
    EXPECT_EQ(reply[16], 0xFF);
    EXPECT_TRUE(writer->protocolErrors().empty());
}
