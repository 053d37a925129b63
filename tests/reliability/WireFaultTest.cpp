// The seeded wire faults of the virtual Writer: the host is told every
// transfer went through, but the data are not what was sent.

#include <gtest/gtest.h>

#include <memory>

#include "link/Link.h"
#include "sim/VirtualWriter.h"
#include "tests/link/usb/EchoChip.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;
using sim::WireFault;

namespace {

struct WireFixture : ::testing::Test {
    WireFixture() {
        writer.addChip(chip);
        writer.open();
    }
    // Faults `fault` at `position` on transfer `number`, seen by `endpoint`.
    void faultOn(link::Endpoint endpoint, std::uint64_t number, WireFault fault,
                 std::size_t position) {
        writer.setWireFaultHook([=, this](const sim::WireEvent& e, std::size_t& at) {
            events.push_back(e);
            if (e.endpoint != endpoint || e.number != number) return WireFault::None;
            at = position;
            return fault;
        });
    }
    // One echo exchange with byte 2 = tag, then the 4-byte block out and back.
    void echo(std::uint8_t tag, const std::uint8_t (&out)[4], std::uint8_t (&back)[4]) {
        core::Packet cmd{};
        cmd[0] = test::EchoChip::kCode;
        cmd[2] = tag;
        reply.fill(0xAA);
        ASSERT_TRUE(link.Exchange(cmd, reply));
        ASSERT_TRUE(link.BulkWrite(out, 4));
        ASSERT_TRUE(link.BulkRead(back, 4));
    }

    sim::VirtualWriter writer;
    std::shared_ptr<test::EchoChip> chip = std::make_shared<test::EchoChip>();
    test::RecordingPrompter prompter;
    link::Link link{writer, prompter};
    core::Packet reply{};
    std::vector<sim::WireEvent> events;
};

}  // namespace

TEST_F(WireFixture, EveryReplyAndBlockIsOfferedWithItsTransferNumber) {
    faultOn(link::Endpoint::DataIn, 99, WireFault::None, 0);
    const std::uint8_t out[4] = {1, 2, 3, 4};
    std::uint8_t back[4] = {};
    echo(7, out, back);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].endpoint, link::Endpoint::ReplyIn);
    EXPECT_EQ(events[0].number, 1u);  // the reply carries its exchange's number
    EXPECT_EQ(events[0].length, 64u);
    EXPECT_EQ(events[1].endpoint, link::Endpoint::DataOut);
    EXPECT_EQ(events[1].number, 2u);
    EXPECT_EQ(events[2].endpoint, link::Endpoint::DataIn);
    EXPECT_EQ(events[2].number, 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(WireFixture, AFlippedBitReachesOnlyTheReceiver) {
    faultOn(link::Endpoint::DataIn, 3, WireFault::FlipBit, 8 * 2 + 5);  // byte 2, bit 5
    const std::uint8_t out[4] = {1, 2, 3, 4};
    std::uint8_t back[4] = {};
    echo(7, out, back);
    EXPECT_EQ(back[2], 3 ^ 0x20);
    EXPECT_EQ(back[0], 1);
    EXPECT_EQ(chip->stored, (std::vector<std::uint8_t>{1, 2, 3, 4}));

    faultOn(link::Endpoint::ReplyIn, 4, WireFault::FlipBit, 8 * 1);  // the status byte
    echo(7, out, back);
    EXPECT_EQ(reply[1], 0x01);
    EXPECT_EQ(reply[2], 7);
}

TEST_F(WireFixture, AShortOutBlockLeavesTheChipsBufferErasedBehindTheCut) {
    faultOn(link::Endpoint::DataOut, 2, WireFault::Short, 2);
    const std::uint8_t out[4] = {1, 2, 3, 4};
    std::uint8_t back[4] = {};
    echo(7, out, back);
    EXPECT_EQ(chip->stored, (std::vector<std::uint8_t>{1, 2, 0xFF, 0xFF}));
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(WireFixture, AShortInBlockOrReplyKeepsWhatTheHostBufferHeld) {
    faultOn(link::Endpoint::DataIn, 3, WireFault::Short, 1);
    const std::uint8_t out[4] = {1, 2, 3, 4};
    std::uint8_t back[4] = {9, 9, 9, 9};
    echo(7, out, back);
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + 4), (std::vector<std::uint8_t>{1, 9, 9, 9}));

    faultOn(link::Endpoint::ReplyIn, 4, WireFault::Short, 2);
    echo(0x33, out, back);
    EXPECT_EQ(reply[1], 0x00);
    EXPECT_EQ(reply[2], 0xAA);  // never arrived
}

TEST_F(WireFixture, ALostBlockNeverArrives) {
    const std::uint8_t first[4] = {1, 2, 3, 4};
    std::uint8_t back[4] = {};
    echo(7, first, back);
    faultOn(link::Endpoint::DataOut, 5, WireFault::Lost, 0);
    const std::uint8_t second[4] = {5, 6, 7, 8};
    echo(8, second, back);
    EXPECT_EQ(chip->stored, (std::vector<std::uint8_t>{1, 2, 3, 4}));  // still the first block
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));

    faultOn(link::Endpoint::DataIn, 9, WireFault::Lost, 0);
    std::uint8_t untouched[4] = {0xC0, 0xC1, 0xC2, 0xC3};
    echo(9, second, untouched);
    EXPECT_EQ(untouched[0], 0xC0);
    EXPECT_EQ(untouched[3], 0xC3);
    EXPECT_TRUE(writer.protocolErrors().empty());
    EXPECT_TRUE(prompter.boxes.empty());
}
