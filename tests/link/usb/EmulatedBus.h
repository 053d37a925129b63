#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/VirtualWriter.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace sonoprog::test {

// What the emulated device presents on the bus.
struct UsbDeviceShape {
    std::uint16_t vendor = link::kWriterVendorId;
    std::uint16_t product = link::kWriterProductId;
    // false: the vendor interface is there, but without the four bulk endpoints.
    bool endpoints = true;
    // What the kernel shows as the device's serial number; empty: none.
    std::string serial = {};
};

// The device and configuration descriptors as the kernel hands them out in
// sysfs ("descriptors"): one vendor-class interface with bulk endpoints
// 0x01, 0x82, 0x03, 0x84 of 64 bytes each.
std::vector<std::uint8_t> writerDescriptors(const UsbDeviceShape& shape);

// One emulated USB bus (bus 001) in a umockdev testbed. The process must run
// with the umockdev preload library (see UsbMain.cpp); only one bus at a time.
class EmulatedBus {
public:
    EmulatedBus();
    ~EmulatedBus();
    EmulatedBus(const EmulatedBus&) = delete;
    EmulatedBus& operator=(const EmulatedBus&) = delete;

    UMockdevTestbed* testbed() { return testbed_; }
    std::string rootDir() const { return root_; }
    // Each plug-in takes the next device number, as the kernel does.
    int nextDeviceNumber() { return nextDevnum_++; }
    // An external hub at `port` ("1-1"), so that devices on its ports
    // ("1-1.1" ...) have their whole port path known; add it before them.
    void addHub(const std::string& port);

private:
    UMockdevTestbed* testbed_ = nullptr;
    std::string root_;
    int nextDevnum_ = 2;
};

// The device's folder under /sys for a port path: "1-1.3" lies in "1-1".
std::string sysfsDevicePath(const std::string& port);

// A USB device on the emulated bus whose usbdevfs node is served by a
// sim::VirtualWriter: each bulk URB becomes one transfer() of the virtual
// Writer, so the chip models behind the real libusb path are the very ones the
// unit tests use. The URB handler runs on umockdev's worker thread; every use
// of the virtual Writer goes through the model lock (use withWriter()).
class EmulatedWriter {
public:
    EmulatedWriter(EmulatedBus& bus, std::unique_ptr<sim::VirtualWriter> writer,
                   UsbDeviceShape shape = {}, std::string port = "1-1");
    ~EmulatedWriter();
    EmulatedWriter(const EmulatedWriter&) = delete;
    EmulatedWriter& operator=(const EmulatedWriter&) = delete;

    // Adds the device under a fresh device number; libusb sees the "add" uevent.
    void plug();
    // Pulls the cable: the open node fails every URB in flight with -ESHUTDOWN
    // and answers everything after with ENODEV, then the "remove" uevent goes
    // out and the device leaves sysfs.
    void unplug();
    bool plugged() const;
    std::string devNode() const;

    // Pull the cable while the URB of virtual-Writer transfer `number` is in
    // flight (0 = never). That URB fails like a real one on a vanished device;
    // the uevent is sent from the cable thread, as the kernel would.
    void unplugAtTransfer(std::uint64_t number);
    // Wait until an unplug started by unplugAtTransfer has fully happened.
    void waitForCable();

    // false: the Writer takes commands but never answers them (reply and data
    // IN URBs stay pending until the host gives up and discards them).
    void setAnswering(bool answering);
    // Whether some open handle has the Writer's interface claimed now (a claim
    // by a second handle is refused as busy until the first lets go or closes).
    bool claimed() const;
    // Self-test only: a removal that does nothing to the open node, as a naive
    // handler would do; pending URBs then stay pending.
    void setNaiveRemoval(bool naive);

    template <class F>
    auto withWriter(F&& f) {
        std::lock_guard<std::mutex> hold(modelMutex());
        return f(model());
    }

    // Observation, for the harness self-tests.
    struct Counters {
        std::uint64_t submitted = 0, reaped = 0, discarded = 0, shutdown = 0, refused = 0;
        std::vector<unsigned long> unknownRequests;
    };
    Counters counters() const;

    struct State;  // shared with the ioctl handlers

private:
    std::mutex& modelMutex();
    sim::VirtualWriter& model();
    void sendRemoval();

    EmulatedBus& bus_;
    UsbDeviceShape shape_;
    std::string port_;
    std::shared_ptr<State> state_;
};

}  // namespace sonoprog::test
