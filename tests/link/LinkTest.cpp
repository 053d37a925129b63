#include <gtest/gtest.h>

#include <memory>

#include "link/ConnectionMonitor.h"
#include "link/Link.h"
#include "sim/ChipMemory.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;
using sim::BulkDirection;
using sim::BulkPhase;
using sim::TransferRecord;

namespace {

// A chip that echoes: code 0x7A answers status 0 and announces one bulk-out of
// 4 bytes and one bulk-in of 4 bytes, which returns what was written.
class EchoChip final : public sim::ChipModel {
public:
    bool handles(std::uint8_t code) const override { return code == 0x7A; }
    std::vector<BulkPhase> command(const core::Packet& cmd, core::Packet& reply) override {
        reply[2] = cmd[2];
        return {{BulkDirection::Out, 4}, {BulkDirection::In, 4}};
    }
    void bulkOut(std::size_t, const std::uint8_t* data, std::size_t n) override {
        stored.assign(data, data + n);
    }
    void bulkIn(std::size_t, std::uint8_t* data, std::size_t n) override {
        std::copy(stored.begin(), stored.begin() + n, data);
    }
    std::vector<std::uint8_t> stored;
};

struct LinkFixture : ::testing::Test {
    LinkFixture() {
        writer.addChip(chip);
        writer.setLogging(true);
    }
    sim::VirtualWriter writer;
    std::shared_ptr<EchoChip> chip = std::make_shared<EchoChip>();
    test::RecordingPrompter prompter;
    link::Link link{writer, prompter};
};

}  // namespace

TEST_F(LinkFixture, ExchangeAndBulkPhasesReachTheChip) {
    ASSERT_TRUE(link.Open());
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    cmd[2] = 0x55;
    ASSERT_TRUE(link.Exchange(cmd, reply));
    EXPECT_EQ(reply[1], 0);
    EXPECT_EQ(reply[2], 0x55);
    const std::uint8_t data[4] = {1, 2, 3, 4};
    std::uint8_t back[4] = {};
    ASSERT_TRUE(link.BulkWrite(data, 4));
    ASSERT_TRUE(link.BulkRead(back, 4));
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(writer.protocolErrors().empty());
    EXPECT_TRUE(prompter.boxes.empty());
    ASSERT_EQ(writer.log().size(), 4u);
    EXPECT_EQ(writer.log()[0].kind, TransferRecord::Kind::Command);
    EXPECT_EQ(writer.log()[1].kind, TransferRecord::Kind::Reply);
    EXPECT_EQ(writer.transferCount(), 3u);
}

TEST_F(LinkFixture, UnknownCommandsGetANonZeroStatus) {
    link.Open();
    core::Packet cmd{}, reply{};
    cmd[0] = 0x99;
    ASSERT_TRUE(link.Exchange(cmd, reply));
    EXPECT_NE(reply[1], 0);
}

TEST_F(LinkFixture, UnannouncedBulkPhasesAreProtocolErrors) {
    link.Open();
    std::uint8_t buf[4] = {};
    EXPECT_FALSE(link.BulkRead(buf, 4));
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    link.Exchange(cmd, reply);
    const std::uint8_t big[8] = {};
    EXPECT_FALSE(link.BulkWrite(big, 8));  // announced 4 bytes, not 8
    EXPECT_EQ(writer.protocolErrors().size(), 2u);
}

TEST_F(LinkFixture, FailedCommandWriteShowsOneBoxAndReadsNoReply) {
    link.Open();
    writer.failTransfer(1);
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    EXPECT_FALSE(link.Exchange(cmd, reply));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].caption, "ERROR");
    EXPECT_EQ(prompter.boxes[0].icon, core::BoxIcon::Error);
    ASSERT_EQ(writer.log().size(), 1u);  // no reply read attempted
    EXPECT_TRUE(writer.log()[0].failed);
}

TEST_F(LinkFixture, BulkFailuresHaveTheirOwnTexts) {
    link.Open();
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    link.Exchange(cmd, reply);
    writer.failFrom(2);
    const std::uint8_t data[4] = {};
    std::uint8_t back[4] = {};
    EXPECT_FALSE(link.BulkWrite(data, 4));
    EXPECT_FALSE(link.BulkRead(back, 4));
    ASSERT_EQ(prompter.boxes.size(), 2u);
    EXPECT_EQ(prompter.boxes[0].text, "[USB] Failed to transmit data!");
    EXPECT_EQ(prompter.boxes[1].text, "[USB] Failed to receive data!");
}

TEST_F(LinkFixture, TransfersFailWhileTheWriterIsNotOpen) {
    core::Packet cmd{}, reply{};
    EXPECT_FALSE(link.Exchange(cmd, reply));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text, link::kNoDeviceText);
}

namespace {
struct MonitorFixture : ::testing::Test {
    sim::VirtualWriter writer;
    test::RecordingPrompter prompter;
    link::Link link{writer, prompter};
    std::vector<bool> shown;
    link::ConnectionMonitor monitor{link, [this](bool c) { shown.push_back(c); }};
};
}  // namespace

TEST_F(MonitorFixture, StartsConnectedWhenTheWriterIsThere) {
    monitor.start();
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{true}));
}

// Lent to the tiles' workers: the window holds no Writer and does not grab it
// back on a device change; taken back, it opens it again (or says it cannot).
TEST_F(MonitorFixture, ALentWriterIsReleasedUntilTakenBack) {
    monitor.start();
    monitor.lend();
    EXPECT_FALSE(writer.isOpen());
    EXPECT_FALSE(link.connected());
    writer.otherDeviceEvent();
    writer.unplug();
    writer.plug();
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(shown, (std::vector<bool>{true}));
    monitor.takeBack();
    EXPECT_TRUE(writer.isOpen());
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{true, true}));

    monitor.lend();
    writer.unplug();
    monitor.takeBack();
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{true, true, false}));
    writer.plug();  // followed again
    EXPECT_TRUE(link.connected());
}

TEST_F(MonitorFixture, StartsDisconnectedWithoutAWriter) {
    writer.unplug();  // before start: no handler yet
    monitor.start();
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{false}));
}

TEST_F(MonitorFixture, FollowsPlugAndUnplug) {
    monitor.start();
    writer.otherDeviceEvent();  // connected, Writer still found: nothing changes
    EXPECT_EQ(shown, (std::vector<bool>{true}));
    EXPECT_TRUE(writer.isOpen());
    writer.unplug();  // connected, Writer gone: release, "Writer Disconnect"
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
    writer.otherDeviceEvent();  // not connected, not found: "Writer Disconnect" again
    EXPECT_EQ(shown, (std::vector<bool>{true, false, false}));
    writer.plug();  // not connected, found, open works
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{true, false, false, true}));
}

// The seven transitions of the connection state machine, each driven by the
// virtual Writer's cable; `shown` records every status the field was given.
TEST_F(MonitorFixture, StartWithTheWriterFoundButNotOpenable) {
    writer.setOpenFails(true);
    monitor.start();
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{false}));
}

TEST_F(MonitorFixture, NotConnectedWriterFoundAndOpened) {
    writer.unplug();
    monitor.start();
    writer.plug();
    EXPECT_TRUE(link.connected());
    EXPECT_TRUE(writer.isOpen());
    EXPECT_EQ(shown, (std::vector<bool>{false, true}));
}

TEST_F(MonitorFixture, NotConnectedWriterFoundButOpenFailsChangesNothing) {
    writer.unplug();
    monitor.start();
    writer.setOpenFails(true);
    writer.plug();
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{false}));  // the status keeps its text
    // The next device change tries again.
    writer.setOpenFails(false);
    writer.otherDeviceEvent();
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{false, true}));
}

TEST_F(MonitorFixture, NotConnectedWriterNotFoundRewritesDisconnect) {
    writer.unplug();
    monitor.start();
    writer.otherDeviceEvent();
    writer.unplug();
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{false, false, false}));
}

TEST_F(MonitorFixture, ConnectedWriterStillFoundLeavesTheLinkAlone) {
    monitor.start();
    core::Packet cmd{}, reply{};
    cmd[0] = 0x99;
    ASSERT_TRUE(link.Exchange(cmd, reply));
    writer.otherDeviceEvent();
    writer.plug();  // a second arrival of the same Writer
    EXPECT_TRUE(link.connected());
    EXPECT_TRUE(writer.isOpen());
    EXPECT_EQ(shown, (std::vector<bool>{true}));
    EXPECT_TRUE(link.Exchange(cmd, reply));
}

TEST_F(MonitorFixture, ConnectedWriterPulledOutReleasesTheLink) {
    monitor.start();
    writer.unplug();
    EXPECT_FALSE(link.connected());
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
    // Transfers now fail through the link's failure path.
    core::Packet cmd{}, reply{};
    EXPECT_FALSE(link.Exchange(cmd, reply));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].caption, "ERROR");
    // Plugging it back in reconnects without a restart.
    writer.plug();
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{true, false, true}));
}

TEST_F(MonitorFixture, PullingTheWriterOutMidOperationFailsTheNextTransfer) {
    monitor.start();
    writer.setTransferHook([this](std::uint64_t n) {
        if (n == 2) writer.unplug();
    });
    core::Packet cmd{}, reply{};
    cmd[0] = 0x99;
    EXPECT_TRUE(link.Exchange(cmd, reply));
    EXPECT_FALSE(link.Exchange(cmd, reply));
    EXPECT_FALSE(link.connected());
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text, link::kNoDeviceText);
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
}

TEST_F(LinkFixture, FailFromMakesEveryLaterTransferFail) {
    link.Open();
    writer.failFrom(2);
    core::Packet cmd{}, reply{};
    cmd[0] = 0x99;
    EXPECT_TRUE(link.Exchange(cmd, reply));
    EXPECT_FALSE(link.Exchange(cmd, reply));
    EXPECT_FALSE(link.Exchange(cmd, reply));
    EXPECT_EQ(prompter.boxes.size(), 2u);
    writer.clearFaults();
    EXPECT_TRUE(link.Exchange(cmd, reply));
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x99, 0x99, 0x99, 0x99}));
}

TEST_F(LinkFixture, FailedBulkBlockAbandonsTheCommandCleanly) {
    link.Open();
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    ASSERT_TRUE(link.Exchange(cmd, reply));
    writer.failTransfer(2);
    const std::uint8_t data[4] = {9, 9, 9, 9};
    EXPECT_FALSE(link.BulkWrite(data, 4));
    cmd[0] = 0x99;  // the operation's closing command
    EXPECT_TRUE(link.Exchange(cmd, reply));
    EXPECT_TRUE(writer.protocolErrors().empty());
    EXPECT_TRUE(chip->stored.empty());
}

TEST_F(LinkFixture, LostReplyFailsTheExchangeAfterTheChipActed) {
    link.Open();
    writer.failReplyOf(1);
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    cmd[2] = 0x11;
    EXPECT_FALSE(link.Exchange(cmd, reply));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    ASSERT_EQ(writer.log().size(), 2u);
    EXPECT_FALSE(writer.log()[0].failed);
    EXPECT_TRUE(writer.log()[1].failed);
}

TEST_F(LinkFixture, CommandBeforeTheAnnouncedBulkPhasesIsAProtocolError) {
    link.Open();
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    ASSERT_TRUE(link.Exchange(cmd, reply));
    ASSERT_TRUE(link.Exchange(cmd, reply));  // the two bulk phases never came
    ASSERT_EQ(writer.protocolErrors().size(), 1u);
    EXPECT_NE(writer.protocolErrors()[0].find("0x7A"), std::string::npos);
}

TEST(ChipMemory, ErasedReadsFFAndProgrammingOnlyClearsBits) {
    sim::ChipMemory mem(4096);
    EXPECT_EQ(mem.read(0), 0xFF);
    EXPECT_EQ(mem.read(4095), 0xFF);
    const std::uint8_t a[2] = {0xF0, 0x0F};
    mem.program(10, a, 2);
    const std::uint8_t b[2] = {0x3C, 0xFF};
    mem.program(10, b, 2);
    std::uint8_t out[2];
    mem.read(10, out, 2);
    EXPECT_EQ(out[0], 0x30);
    EXPECT_EQ(out[1], 0x0F);
    mem.write(10, b, 2);
    EXPECT_EQ(mem.read(10), 0x3C);
    mem.erase();
    EXPECT_EQ(mem.read(10), 0xFF);
    EXPECT_EQ(mem.read(11), 0xFF);
}

// Pulled out and plugged back in before the window saw either event: the one
// notification finds the Writer, and the dead handle must not be kept.
TEST_F(MonitorFixture, QuickReplugOpensTheWriterAgain) {
    monitor.start();
    writer.replugQuickly();
    EXPECT_TRUE(link.connected());
    EXPECT_TRUE(writer.isOpen());
    EXPECT_EQ(shown, (std::vector<bool>{true, true}));
    core::Packet cmd{}, reply{};
    cmd[0] = 0x99;
    EXPECT_TRUE(link.Exchange(cmd, reply));
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(MonitorFixture, QuickReplugThatCannotReopenShowsDisconnect) {
    monitor.start();
    writer.setOpenFails(true);
    writer.replugQuickly();
    EXPECT_FALSE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
    writer.setOpenFails(false);
    writer.otherDeviceEvent();  // the next notification tries again
    EXPECT_TRUE(link.connected());
    EXPECT_EQ(shown, (std::vector<bool>{true, false, true}));
}
