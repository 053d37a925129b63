#include <gtest/gtest.h>

#include <libusb.h>
#include <cstdlib>
#include <vector>

#include "link/Link.h"
#include "link/usb/UsbWriterDevice.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;
using link::usb::findWriterInterface;

namespace {

libusb_endpoint_descriptor endpoint(std::uint8_t address, std::uint8_t type) {
    libusb_endpoint_descriptor ep{};
    ep.bLength = LIBUSB_DT_ENDPOINT_SIZE;
    ep.bDescriptorType = LIBUSB_DT_ENDPOINT;
    ep.bEndpointAddress = address;
    ep.bmAttributes = type;
    ep.wMaxPacketSize = 64;
    return ep;
}

// A configuration built by hand: interfaces of one setting each.
struct FakeConfig {
    explicit FakeConfig(std::vector<std::vector<libusb_endpoint_descriptor>> interfaces)
        : endpoints(std::move(interfaces)) {
        settings.resize(endpoints.size());
        ifaces.resize(endpoints.size());
        for (std::size_t i = 0; i < endpoints.size(); ++i) {
            settings[i].bInterfaceNumber = static_cast<std::uint8_t>(i);
            settings[i].bNumEndpoints = static_cast<std::uint8_t>(endpoints[i].size());
            settings[i].endpoint = endpoints[i].data();
            ifaces[i].altsetting = &settings[i];
            ifaces[i].num_altsetting = 1;
        }
        config.bNumInterfaces = static_cast<std::uint8_t>(ifaces.size());
        config.interface = ifaces.data();
    }
    std::vector<std::vector<libusb_endpoint_descriptor>> endpoints;
    std::vector<libusb_interface_descriptor> settings;
    std::vector<libusb_interface> ifaces;
    libusb_config_descriptor config{};
};

constexpr std::uint8_t kBulk = LIBUSB_TRANSFER_TYPE_BULK;
constexpr std::uint8_t kInt = LIBUSB_TRANSFER_TYPE_INTERRUPT;

}  // namespace

TEST(UsbDiscovery, OnlyVendor04D8Product0052IsTheWriter) {
    EXPECT_TRUE(link::usb::isWriterId(0x04D8, 0x0052));
    EXPECT_FALSE(link::usb::isWriterId(0x04D8, 0x0053));
    EXPECT_FALSE(link::usb::isWriterId(0x04D9, 0x0052));
    EXPECT_FALSE(link::usb::isWriterId(0x0052, 0x04D8));
}

TEST(UsbDiscovery, TheInterfaceMustCarryAllFourEndpoints) {
    FakeConfig writer({{endpoint(0x81, kInt)},
                       {endpoint(0x01, kBulk), endpoint(0x82, kInt), endpoint(0x03, kBulk),
                        endpoint(0x84, kBulk)}});
    auto found = findWriterInterface(writer.config);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->number, 1);
    EXPECT_FALSE(found->interrupt[0]);
    EXPECT_TRUE(found->interrupt[1]);

    FakeConfig missingData({{endpoint(0x01, kBulk), endpoint(0x82, kBulk), endpoint(0x03, kBulk)}});
    EXPECT_FALSE(findWriterInterface(missingData.config));
    // The endpoints spread over two interfaces are not one Writer interface.
    FakeConfig split({{endpoint(0x01, kBulk), endpoint(0x82, kBulk)},
                      {endpoint(0x03, kBulk), endpoint(0x84, kBulk)}});
    EXPECT_FALSE(findWriterInterface(split.config));
    // Right numbers, wrong directions or an isochronous pipe.
    FakeConfig wrong({{endpoint(0x81, kBulk), endpoint(0x02, kBulk), endpoint(0x03, kBulk),
                       endpoint(0x84, kBulk)}});
    EXPECT_FALSE(findWriterInterface(wrong.config));
    FakeConfig iso({{endpoint(0x01, kBulk), endpoint(0x82, kBulk), endpoint(0x03, kBulk),
                     endpoint(0x84, LIBUSB_TRANSFER_TYPE_ISOCHRONOUS)}});
    EXPECT_FALSE(findWriterInterface(iso.config));
}

TEST(UsbWriterDevice, WithoutAWriterTransfersFailWithTheNoDeviceText) {
    link::usb::UsbWriterDevice device;
    EXPECT_FALSE(device.discover());
    EXPECT_FALSE(device.open());
    std::uint8_t packet[64] = {};
    auto error = device.transfer(link::Endpoint::CommandOut, packet, sizeof packet);
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, link::kNoDeviceText);

    test::RecordingPrompter prompter;
    link::Link link(device, prompter);
    core::Packet cmd{}, reply{};
    EXPECT_FALSE(link.Exchange(cmd, reply));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0], (test::Box{"ERROR", link::kNoDeviceText, core::BoxIcon::Error}));
    device.release();  // releasing a link that is not open is harmless
}

TEST(UsbWriterDevice, TimeoutsAreBoundedAndConfigurable) {
    {
        link::usb::UsbWriterDevice device;
        EXPECT_EQ(device.replyTimeoutMs(), 600000u);
        EXPECT_LT(device.outTimeoutMs(), device.replyTimeoutMs());
        device.setTimeouts(3000000, 5000000);
        EXPECT_EQ(device.replyTimeoutMs(), 600000u);
        EXPECT_EQ(device.outTimeoutMs(), 600000u);
        device.setTimeouts(0, 0);
        EXPECT_EQ(device.replyTimeoutMs(), 1u);
    }
    setenv("SONOPROG_USB_TIMEOUT_MS", "2000", 1);
    link::usb::UsbWriterDevice quick;
    unsetenv("SONOPROG_USB_TIMEOUT_MS");
    EXPECT_EQ(quick.replyTimeoutMs(), 2000u);
    EXPECT_EQ(quick.outTimeoutMs(), 2000u);
}

TEST(UsbWriterDevice, DeviceListPollReportsOnlyChanges) {
    link::usb::UsbWriterDevice device;
    int changes = 0;
    device.setDeviceChangeHandler([&] { ++changes; });
    EXPECT_FALSE(device.pollDeviceList());  // the first look only takes note
    EXPECT_FALSE(device.pollDeviceList());
    device.deliverPendingChange();  // nothing pending
    EXPECT_EQ(changes, 0);
    device.notifyDeviceChange();
    EXPECT_EQ(changes, 1);
}
