// The libusb backend under an emulated kernel device: discovery, open, the
// transfers, and the connection state machine driven by real hot-plug events.

#include <chrono>
#include <thread>

#include "tests/link/usb/BackendFixture.h"
#include "tests/link/usb/EchoChip.h"

using namespace sonoprog;
using namespace std::chrono_literals;

namespace {

using Backend = test::BackendFixture;

}  // namespace

TEST_F(Backend, DiscoveryTakesOnlyTheWriterWithItsFourEndpoints) {
    ASSERT_TRUE(device.available());
    EXPECT_FALSE(device.discover());

    test::EmulatedWriter other(bus, test::echoWriter(), {0x04D8, 0x0053, true}, "1-1");
    test::EmulatedWriter bare(bus, test::echoWriter(), {0x04D8, 0x0052, false}, "1-2");
    other.plug();
    bare.plug();
    pumpFor(200ms);
    EXPECT_FALSE(device.discover()) << "another product id or a Writer without endpoints";
    EXPECT_FALSE(device.open());

    test::EmulatedWriter writer(bus, test::echoWriter(), {}, "1-3");
    writer.plug();
    ASSERT_TRUE(pumpUntil([&] { return device.discover(); }));
    ASSERT_TRUE(device.open());
    EXPECT_TRUE(echoes(0x31));
    EXPECT_TRUE(prompter.boxes.empty());
    writer.withWriter([](sim::VirtualWriter& w) {
        EXPECT_EQ(w.transferCount(), 3u);
        EXPECT_TRUE(w.protocolErrors().empty());
    });
    // The other devices never saw a URB.
    EXPECT_EQ(other.counters().submitted, 0u);
    EXPECT_EQ(bare.counters().submitted, 0u);
}

TEST_F(Backend, TheConnectionFollowsRealHotPlugEvents) {
    test::EmulatedWriter writer(bus, test::echoWriter(), {}, "1-1");
    test::EmulatedWriter other(bus, test::echoWriter(), {0x1234, 0x5678, true}, "1-2");
    monitor.start();
    EXPECT_EQ(shown, std::vector<bool>{false});

    // Added after start.
    writer.plug();
    ASSERT_TRUE(showsSoon(true));
    EXPECT_TRUE(link.connected());
    EXPECT_TRUE(echoes(1));

    // Another device coming and going leaves the open link alone.
    const auto before = shown.size();
    other.plug();
    pumpFor(300ms);
    other.unplug();
    pumpFor(300ms);
    EXPECT_EQ(shown.size(), before);
    EXPECT_TRUE(link.connected());
    EXPECT_TRUE(echoes(2));

    // Removed: released, "Writer Disconnect"; a transfer then fails with a box.
    writer.unplug();
    ASSERT_TRUE(showsSoon(false));
    EXPECT_FALSE(link.connected());
    EXPECT_FALSE(echoes(3));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].caption, "ERROR");
    EXPECT_EQ(prompter.boxes[0].text, link::kNoDeviceText);

    // Another device while no Writer is there rewrites "Writer Disconnect".
    const auto disconnected = shown.size();
    other.plug();
    ASSERT_TRUE(pumpUntil([&] { return shown.size() > disconnected; }));
    EXPECT_FALSE(shown.back());

    // Re-added under a new device number: connected again without a restart.
    writer.plug();
    ASSERT_TRUE(showsSoon(true));
    EXPECT_TRUE(echoes(4));
    writer.withWriter([](sim::VirtualWriter& w) { EXPECT_TRUE(w.protocolErrors().empty()); });
}

TEST_F(Backend, AQuickReplugBetweenTwoTurnsOpensTheWriterAgain) {
    test::EmulatedWriter writer(bus, test::echoWriter(), {}, "1-1");
    writer.plug();
    ASSERT_TRUE(pumpUntil([&] { return device.discover(); }));
    monitor.start();
    ASSERT_EQ(shown, std::vector<bool>{true});
    ASSERT_TRUE(echoes(1));

    // Out and back in before the window has a turn: both events arrive
    // together, the one notification finds the Writer under its new number,
    // and the handle to the device that left must not be kept.
    writer.unplug();
    writer.plug();
    pumpFor(300ms);
    EXPECT_TRUE(link.connected());
    EXPECT_TRUE(device.isOpen());
    EXPECT_TRUE(echoes(2));
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(Backend, AStartWithTheWriterAttachedConnectsAtOnce) {
    test::EmulatedWriter writer(bus, test::echoWriter());
    writer.plug();
    ASSERT_TRUE(pumpUntil([&] { return device.discover(); }));
    monitor.start();
    EXPECT_EQ(shown, std::vector<bool>{true});
    EXPECT_TRUE(echoes(9));
}

TEST_F(Backend, AWriterThatStopsAnsweringRunsIntoTheReplyTimeOut) {
    device.setTimeouts(300, 300);
    test::EmulatedWriter writer(bus, test::echoWriter());
    writer.plug();
    ASSERT_TRUE(pumpUntil([&] { return device.discover(); }));
    monitor.start();
    ASSERT_TRUE(link.connected());

    writer.setAnswering(false);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(echoes(5));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3000ms);
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].caption, "ERROR");
    EXPECT_EQ(prompter.boxes[0].text, "Operation timed out");
    EXPECT_EQ(writer.counters().discarded, 1u);
    // Still plugged in: the link stays up, and a Writer that answers again is heard.
    EXPECT_TRUE(link.connected());
    writer.setAnswering(true);
    EXPECT_TRUE(echoes(6));
}
