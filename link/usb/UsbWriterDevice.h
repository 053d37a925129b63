#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/WriterDevice.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_config_descriptor;

namespace sonoprog::link::usb {

// The Writer's identity: vendor 0x04D8, product 0x0052.
bool isWriterId(std::uint16_t vendorId, std::uint16_t productId);

// Where the Writer's four endpoints (0x01, 0x82, 0x03, 0x84) live in a
// configuration, and whether each is an interrupt endpoint (else bulk).
struct WriterInterface {
    int number = -1;
    int altSetting = 0;
    bool interrupt[4] = {};  // in Endpoint order: CommandOut, ReplyIn, DataOut, DataIn
};

// The first interface setting that has all four endpoints; nullopt when none has.
std::optional<WriterInterface> findWriterInterface(const libusb_config_descriptor& config);

// One Writer on the bus, as `writers` lists it.
struct AttachedWriter {
    std::string port;       // the USB port path, "1-1.3", as the kernel names the device
    std::string serial;     // empty when the Writer reports none
    bool inUse = false;     // another program (or another link of this one) holds it
    bool noAccess = false;  // it could not be opened to find out (permissions)
    friend bool operator==(const AttachedWriter&, const AttachedWriter&) = default;
};

// How records and messages name a Writer: "usb:1-1.3", with " (serial A7)"
// when it reports a serial number.
std::string identityText(const AttachedWriter& writer);

// Which Writer discovery takes: the one at a port, the one with a serial
// number, or (both empty) the first one found.
struct WriterChoice {
    std::string port;
    std::string serial;
    bool any() const { return port.empty() && serial.empty(); }
    bool matches(const AttachedWriter& writer) const;
};

// The kernel's name of a device: bus number, a dash, the port numbers from the
// root hub down joined by dots ("1-1.3"); libusb knows the ports only as far up
// as it knows the hubs.
std::string portPathOf(libusb_device* device);

// The libusb-1.0 backend. Plain C++: the window's event loop drives it through
// UsbEventPump (poll descriptors, hot-plug), the command line may drive it by
// calling handleEvents() itself.
class UsbWriterDevice final : public WriterDevice {
public:
    // A reply may be as late as a whole-chip erase of the largest serial
    // flash; a packet going out is taken by the Writer at once.
    static constexpr unsigned kReplyTimeoutMs = 10 * 60 * 1000;
    static constexpr unsigned kOutTimeoutMs = 10 * 1000;

    // Reads SONOPROG_USB_TIMEOUT_MS (the reply time-out, at most 10 minutes;
    // outgoing transfers never wait longer than a reply).
    UsbWriterDevice();
    ~UsbWriterDevice() override;
    UsbWriterDevice(const UsbWriterDevice&) = delete;
    UsbWriterDevice& operator=(const UsbWriterDevice&) = delete;

    bool discover() override;
    bool open() override;
    void release() override;
    bool isOpen() const override { return handle_ != nullptr; }
    std::optional<std::string> transfer(Endpoint endpoint, std::uint8_t* data,
                                        std::size_t length) override;
    void setDeviceChangeHandler(std::function<void()> handler) override;

    // Time-outs in milliseconds, clamped to 1 .. kReplyTimeoutMs; the outgoing
    // one to at most the reply one.
    void setTimeouts(unsigned replyMs, unsigned outMs);

    // --- telling Writers apart ---
    // Discovery takes only this Writer from now on (the port survives a replug).
    void setChoice(WriterChoice choice) { choice_ = std::move(choice); }
    const WriterChoice& choice() const { return choice_; }
    // Every Writer attached now, by port. With probeUse each one is opened and
    // its interface claimed and let go again to see whether someone else has
    // it; the one this device holds open counts as its own, not in use.
    std::vector<AttachedWriter> attachedWriters(bool probeUse) const;
    // The identity of the Writer discovery found last (empty port before).
    const AttachedWriter& found() const { return found_; }
    unsigned replyTimeoutMs() const { return replyTimeoutMs_; }
    unsigned outTimeoutMs() const { return outTimeoutMs_; }

    // --- event loop integration ---
    bool available() const { return context_ != nullptr; }  // libusb started
    bool hasHotplug() const { return hotplugHandle_ != 0; }
    libusb_context* context() const { return context_; }
    // Handles what libusb has pending without waiting, then delivers a device
    // change that a hot-plug callback reported.
    void handleEvents();
    // Runs the device-change handler once if a hot-plug event is pending.
    void deliverPendingChange();
    // Called (from inside libusb's event handling) when a hot-plug event is
    // pending, so that the owner can schedule deliverPendingChange().
    void setWakeHandler(std::function<void()> wake) { wake_ = std::move(wake); }
    // Without hot-plug support: true when the set of attached USB devices
    // changed since the last call (the first call only takes note).
    bool pollDeviceList();
    // Runs the device-change handler now.
    void notifyDeviceChange();

private:
    friend struct HotplugBridge;
    void onHotplug();
    void forgetDevice();

    libusb_context* context_ = nullptr;
    int hotplugHandle_ = 0;
    libusb_device* device_ = nullptr;  // from the last successful discovery
    WriterInterface interface_;
    WriterChoice choice_;
    AttachedWriter found_;
    libusb_device_handle* handle_ = nullptr;
    WriterInterface openInterface_;
    bool claimed_ = false;
    unsigned replyTimeoutMs_ = kReplyTimeoutMs;
    unsigned outTimeoutMs_ = kOutTimeoutMs;
    bool pending_ = false;
    std::function<void()> handler_;
    std::function<void()> wake_;
    std::optional<std::vector<std::pair<int, int>>> lastDevices_;
};

}  // namespace sonoprog::link::usb
