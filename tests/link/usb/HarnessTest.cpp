// The emulated bus checked with a plain libusb client, before any program code
// sits on top of it: what libusb sees must be what a real Writer shows.

#include <gtest/gtest.h>
#include <libusb.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "tests/link/usb/EchoChip.h"
#include "tests/link/usb/EmulatedBus.h"

using namespace sonoprog;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct HarnessFixture : ::testing::Test {
    HarnessFixture() { EXPECT_EQ(libusb_init(&ctx), 0); }
    ~HarnessFixture() override {
        if (handle) libusb_close(handle);
        libusb_exit(ctx);
    }

    // Pumps libusb's events for a while (hot-plug callbacks run from here).
    void pump(std::chrono::milliseconds span) {
        const auto until = Clock::now() + span;
        timeval tv{0, 10000};
        while (Clock::now() < until) libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
    }

    struct Seen {
        std::uint16_t vendor, product;
        int interfaceClass;
        std::vector<std::pair<int, int>> endpoints;  // address, max packet size
    };
    std::vector<Seen> listDevices() {
        std::vector<Seen> out;
        libusb_device** list = nullptr;
        ssize_t n = libusb_get_device_list(ctx, &list);
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor dd{};
            libusb_get_device_descriptor(list[i], &dd);
            Seen seen{dd.idVendor, dd.idProduct, -1, {}};
            libusb_config_descriptor* config = nullptr;
            if (libusb_get_active_config_descriptor(list[i], &config) == 0) {
                const auto& alt = config->interface[0].altsetting[0];
                seen.interfaceClass = alt.bInterfaceClass;
                for (int e = 0; e < alt.bNumEndpoints; ++e)
                    seen.endpoints.push_back(
                        {alt.endpoint[e].bEndpointAddress, alt.endpoint[e].wMaxPacketSize});
                libusb_free_config_descriptor(config);
            }
            out.push_back(seen);
        }
        libusb_free_device_list(list, 1);
        return out;
    }

    void openWriter() {
        handle =
            libusb_open_device_with_vid_pid(ctx, link::kWriterVendorId, link::kWriterProductId);
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    }

    int bulk(unsigned char endpoint, std::uint8_t* data, int length, unsigned timeoutMs = 1000) {
        int moved = 0;
        int rc = libusb_bulk_transfer(handle, endpoint, data, length, &moved, timeoutMs);
        return rc == 0 ? moved : rc;
    }

    // The check the backend tests rely on: a transfer waiting on the Writer
    // ends with "no device" as soon as the cable is pulled, not at its time-out.
    bool pendingTransferFailsAtRemoval(test::EmulatedWriter& writer) {
        writer.setAnswering(false);
        core::Packet cmd{};
        cmd[0] = 0x7A;
        if (bulk(0x01, cmd.data(), 64) != 64) return false;
        auto started = Clock::now();
        auto waiting = std::async(std::launch::async, [&] {
            std::uint8_t reply[64];
            return bulk(0x82, reply, 64, 2000);
        });
        std::this_thread::sleep_for(100ms);
        writer.unplug();
        int rc = waiting.get();
        auto took = Clock::now() - started;
        return rc == LIBUSB_ERROR_NO_DEVICE && took < 1000ms;
    }

    libusb_context* ctx = nullptr;
    libusb_device_handle* handle = nullptr;
    test::EmulatedBus bus;
};

}  // namespace

TEST_F(HarnessFixture, TheWriterShowsItsIdentityAndFourBulkEndpoints) {
    EXPECT_TRUE(listDevices().empty());
    test::EmulatedWriter writer(bus, test::echoWriter());
    writer.plug();
    pump(50ms);
    auto seen = listDevices();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].vendor, 0x04D8);
    EXPECT_EQ(seen[0].product, 0x0052);
    EXPECT_EQ(seen[0].interfaceClass, 0xFF);
    std::vector<std::pair<int, int>> want = {{0x01, 64}, {0x82, 64}, {0x03, 64}, {0x84, 64}};
    EXPECT_EQ(seen[0].endpoints, want);
}

TEST_F(HarnessFixture, OtherShapesShowWhatTheyAre) {
    test::EmulatedWriter other(bus, test::echoWriter(), {0x04D8, 0x0053, true}, "1-2");
    test::EmulatedWriter bare(bus, test::echoWriter(), {0x04D8, 0x0052, false}, "1-3");
    other.plug();
    bare.plug();
    pump(50ms);
    auto seen = listDevices();
    ASSERT_EQ(seen.size(), 2u);
    bool sawOther = false, sawBare = false;
    for (const auto& s : seen) {
        if (s.product == 0x0053 && s.endpoints.size() == 4) sawOther = true;
        if (s.product == 0x0052 && s.endpoints.empty() && s.interfaceClass == 0xFF) sawBare = true;
    }
    EXPECT_TRUE(sawOther);
    EXPECT_TRUE(sawBare);
}

TEST_F(HarnessFixture, BulkUrbsReachTheVirtualWriterInWireOrder) {
    test::EmulatedWriter writer(bus, test::echoWriter());
    writer.plug();
    openWriter();
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    cmd[2] = 0x5C;
    ASSERT_EQ(bulk(0x01, cmd.data(), 64), 64);
    reply.fill(0xEE);
    ASSERT_EQ(bulk(0x82, reply.data(), 64), 64);
    EXPECT_EQ(reply[1], 0);
    EXPECT_EQ(reply[2], 0x5C);
    std::uint8_t data[4] = {9, 8, 7, 6}, back[4] = {};
    ASSERT_EQ(bulk(0x03, data, 4), 4);
    ASSERT_EQ(bulk(0x84, back, 4), 4);
    EXPECT_EQ(std::memcmp(data, back, 4), 0);

    writer.withWriter([](sim::VirtualWriter& w) {
        EXPECT_EQ(w.transferCount(), 3u);
        ASSERT_EQ(w.log().size(), 4u);
        EXPECT_EQ(w.log()[0].kind, sim::TransferRecord::Kind::Command);
        EXPECT_EQ(w.log()[1].kind, sim::TransferRecord::Kind::Reply);
        EXPECT_EQ(w.log()[2].kind, sim::TransferRecord::Kind::BulkOut);
        EXPECT_EQ(w.log()[3].kind, sim::TransferRecord::Kind::BulkIn);
        EXPECT_TRUE(w.protocolErrors().empty());
    });
    auto c = writer.counters();
    EXPECT_EQ(c.submitted, 4u);
    EXPECT_EQ(c.reaped, 4u);
    EXPECT_TRUE(c.unknownRequests.empty());
}

TEST_F(HarnessFixture, InjectedFaultsAndMissingEndpointsFailTheTransfer) {
    test::EmulatedWriter writer(bus, test::echoWriter());
    writer.plug();
    openWriter();
    writer.withWriter([](sim::VirtualWriter& w) { w.failTransfer(1); });
    core::Packet cmd{};
    cmd[0] = 0x7A;
    EXPECT_EQ(bulk(0x01, cmd.data(), 64), LIBUSB_ERROR_IO);
    EXPECT_EQ(bulk(0x01, cmd.data(), 64), 64);  // only once

    std::uint8_t byte = 0;
    EXPECT_LT(bulk(0x05, &byte, 1), 0);  // no such endpoint
}

TEST_F(HarnessFixture, HotPlugCallbacksFollowTheCable) {
    std::vector<libusb_hotplug_event> events;
    auto record = [](libusb_context*, libusb_device*, libusb_hotplug_event event,
                     void* user) -> int {
        static_cast<std::vector<libusb_hotplug_event>*>(user)->push_back(event);
        return 0;
    };
    libusb_hotplug_callback_handle cb;
    ASSERT_EQ(libusb_hotplug_register_callback(
                  ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                  LIBUSB_HOTPLUG_NO_FLAGS, link::kWriterVendorId, link::kWriterProductId,
                  LIBUSB_HOTPLUG_MATCH_ANY, record, &events, &cb),
              0);
    test::EmulatedWriter writer(bus, test::echoWriter());
    test::EmulatedWriter other(bus, test::echoWriter(), {0x04D8, 0x0053, true}, "1-2");
    writer.plug();
    pump(200ms);
    other.plug();
    pump(100ms);
    other.unplug();
    pump(100ms);
    writer.unplug();
    pump(200ms);
    writer.plug();
    pump(200ms);
    std::vector<libusb_hotplug_event> want = {LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,
                                              LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                                              LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED};
    EXPECT_EQ(events, want);
    libusb_hotplug_deregister_callback(ctx, cb);
}

TEST_F(HarnessFixture, PullingTheCableEndsAWaitingTransferAtOnce) {
    test::EmulatedWriter writer(bus, test::echoWriter());
    writer.plug();
    openWriter();
    EXPECT_TRUE(pendingTransferFailsAtRemoval(writer));
    EXPECT_GE(writer.counters().shutdown, 1u);
    // Everything after the removal fails the same way.
    core::Packet cmd{};
    EXPECT_EQ(bulk(0x01, cmd.data(), 64), LIBUSB_ERROR_NO_DEVICE);
}

TEST_F(HarnessFixture, ANaiveRemovalWouldHaveBeenCaught) {
    test::EmulatedWriter writer(bus, test::echoWriter());
    writer.setNaiveRemoval(true);
    writer.plug();
    openWriter();
    // The same check as above fails against a handler that ignores the open node.
    EXPECT_FALSE(pendingTransferFailsAtRemoval(writer));
    EXPECT_EQ(writer.counters().shutdown, 0u);
}

TEST_F(HarnessFixture, TheCableGoesInsideAChosenTransfer) {
    test::EmulatedWriter writer(bus, test::echoWriter());
    writer.plug();
    openWriter();
    writer.unplugAtTransfer(2);  // the 4-byte bulk out after the exchange
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    ASSERT_EQ(bulk(0x01, cmd.data(), 64), 64);
    ASSERT_EQ(bulk(0x82, reply.data(), 64), 64);
    std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(bulk(0x03, data, 4), LIBUSB_ERROR_NO_DEVICE);
    writer.waitForCable();
    EXPECT_FALSE(writer.plugged());
    writer.withWriter([](sim::VirtualWriter& w) {
        EXPECT_EQ(w.transferCount(), 1u);  // the block never reached the Writer
    });
}

TEST_F(HarnessFixture, AnExchangeLosesItsReplyWhenTheCableGoesAfterTheCommand) {
    test::EmulatedWriter writer(bus, test::echoWriter());
    writer.plug();
    openWriter();
    writer.unplugAtTransfer(1);
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    ASSERT_EQ(bulk(0x01, cmd.data(), 64), 64);
    EXPECT_EQ(bulk(0x82, reply.data(), 64), LIBUSB_ERROR_NO_DEVICE);
    writer.waitForCable();
    writer.withWriter([](sim::VirtualWriter& w) {
        EXPECT_EQ(w.commandCodes(), std::vector<std::uint8_t>{0x7A});  // the chip got it
    });
}

TEST_F(HarnessFixture, AWriterThatStopsAnsweringTimesOutAndItsUrbIsDiscarded) {
    test::EmulatedWriter writer(bus, test::echoWriter());
    writer.plug();
    openWriter();
    writer.setAnswering(false);
    core::Packet cmd{}, reply{};
    cmd[0] = 0x7A;
    ASSERT_EQ(bulk(0x01, cmd.data(), 64), 64);
    auto started = Clock::now();
    EXPECT_EQ(bulk(0x82, reply.data(), 64, 200), LIBUSB_ERROR_TIMEOUT);
    EXPECT_LT(Clock::now() - started, 1500ms);
    EXPECT_EQ(writer.counters().discarded, 1u);
}
