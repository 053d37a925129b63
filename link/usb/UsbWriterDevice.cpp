#include "link/usb/UsbWriterDevice.h"

#include <libusb.h>
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "core/NumberText.h"

namespace sonoprog::link::usb {

namespace {

constexpr std::uint8_t kEndpoints[4] = {0x01, 0x82, 0x03, 0x84};

int endpointSlot(Endpoint endpoint) {
    switch (endpoint) {
        case Endpoint::CommandOut:
            return 0;
        case Endpoint::ReplyIn:
            return 1;
        case Endpoint::DataOut:
            return 2;
        case Endpoint::DataIn:
            return 3;
    }
    return 0;
}

// The Writer's interface when the device is a Writer with its four endpoints.
std::optional<WriterInterface> writerInterfaceOf(libusb_device* device) {
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(device, &desc) != LIBUSB_SUCCESS) return std::nullopt;
    if (!isWriterId(desc.idVendor, desc.idProduct)) return std::nullopt;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS)
        return std::nullopt;
    auto iface = findWriterInterface(*config);
    libusb_free_config_descriptor(config);
    return iface;
}

// The serial number as the kernel read it at enumeration: no need to open the
// Writer, so it is known also while another program holds it.
std::string serialOf(const std::string& port) {
    if (port.empty()) return {};
    std::ifstream in("/sys/bus/usb/devices/" + port + "/serial");
    std::string serial;
    std::getline(in, serial);
    while (!serial.empty() &&
           (serial.back() == '\n' || serial.back() == '\r' || serial.back() == ' '))
        serial.pop_back();
    return serial;
}

// "1-1.10" after "1-1.9": the numbers compared, not the text.
std::vector<int> portNumbers(const std::string& port) {
    std::vector<int> numbers;
    int value = 0;
    for (char c : port) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
        } else {
            numbers.push_back(value);
            value = 0;
        }
    }
    numbers.push_back(value);
    return numbers;
}

AttachedWriter identityOf(libusb_device* device) {
    AttachedWriter w;
    w.port = portPathOf(device);
    w.serial = serialOf(w.port);
    return w;
}

}  // namespace

std::string identityText(const AttachedWriter& writer) {
    std::string text = "usb:" + writer.port;
    if (!writer.serial.empty()) text += " (serial " + writer.serial + ")";
    return text;
}

std::string portPathOf(libusb_device* device) {
    std::uint8_t ports[8] = {};
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    if (depth <= 0) return {};
    std::string path = std::to_string(libusb_get_bus_number(device)) + "-";
    for (int i = 0; i < depth; ++i) {
        if (i > 0) path += '.';
        path += std::to_string(ports[i]);
    }
    return path;
}

bool WriterChoice::matches(const AttachedWriter& writer) const {
    if (!port.empty() && writer.port != port) return false;
    if (!serial.empty() && writer.serial != serial) return false;
    return true;
}

bool isWriterId(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == kWriterVendorId && productId == kWriterProductId;
}

std::optional<WriterInterface> findWriterInterface(const libusb_config_descriptor& config) {
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& iface = config.interface[i];
        for (int a = 0; a < iface.num_altsetting; ++a) {
            const libusb_interface_descriptor& desc = iface.altsetting[a];
            WriterInterface found;
            found.number = desc.bInterfaceNumber;
            found.altSetting = desc.bAlternateSetting;
            int seen = 0;
            for (int s = 0; s < 4; ++s) {
                for (int e = 0; e < desc.bNumEndpoints; ++e) {
                    const libusb_endpoint_descriptor& ep = desc.endpoint[e];
                    const int type = ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
                    if (ep.bEndpointAddress != kEndpoints[s]) continue;
                    if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT)
                        continue;
                    found.interrupt[s] = type == LIBUSB_TRANSFER_TYPE_INTERRUPT;
                    ++seen;
                    break;
                }
            }
            if (seen == 4) return found;
        }
    }
    return std::nullopt;
}

struct HotplugBridge {
    static int callback(libusb_context*, libusb_device*, libusb_hotplug_event, void* user) {
        static_cast<UsbWriterDevice*>(user)->onHotplug();
        return 0;  // stay registered
    }
};

UsbWriterDevice::UsbWriterDevice() {
    if (const char* env = std::getenv("SONOPROG_USB_TIMEOUT_MS")) {
        if (auto ms = core::parseOptionNumber(env); ms && *ms > 0) {
            const unsigned reply =
                static_cast<unsigned>(std::min<std::uint64_t>(*ms, kReplyTimeoutMs));
            setTimeouts(reply, kOutTimeoutMs);
        }
    }
    if (libusb_init(&context_) != LIBUSB_SUCCESS) {
        context_ = nullptr;
        return;
    }
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        libusb_hotplug_callback_handle handle = 0;
        const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
        if (libusb_hotplug_register_callback(
                context_, static_cast<libusb_hotplug_event>(events), LIBUSB_HOTPLUG_NO_FLAGS,
                LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                &HotplugBridge::callback, this, &handle) == LIBUSB_SUCCESS)
            hotplugHandle_ = handle;
    }
}

UsbWriterDevice::~UsbWriterDevice() {
    release();
    forgetDevice();
    if (!context_) return;
    if (hotplugHandle_) libusb_hotplug_deregister_callback(context_, hotplugHandle_);
    libusb_exit(context_);
}

void UsbWriterDevice::setTimeouts(unsigned replyMs, unsigned outMs) {
    replyTimeoutMs_ = std::clamp(replyMs, 1u, kReplyTimeoutMs);
    outTimeoutMs_ = std::clamp(outMs, 1u, replyTimeoutMs_);
}

void UsbWriterDevice::setDeviceChangeHandler(std::function<void()> handler) {
    handler_ = std::move(handler);
}

void UsbWriterDevice::onHotplug() {
    // Only take note here: libusb must not be re-entered from its own event
    // handling, and the state machine runs on the window's turn.
    pending_ = true;
    if (wake_) wake_();
}

void UsbWriterDevice::handleEvents() {
    if (context_) {
        timeval zero{0, 0};
        libusb_handle_events_timeout_completed(context_, &zero, nullptr);
    }
    deliverPendingChange();
}

void UsbWriterDevice::deliverPendingChange() {
    if (!pending_) return;
    pending_ = false;
    notifyDeviceChange();
}

void UsbWriterDevice::notifyDeviceChange() {
    if (handler_) handler_();
}

bool UsbWriterDevice::pollDeviceList() {
    if (!context_) return false;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    if (count < 0) return false;
    std::vector<std::pair<int, int>> devices;
    for (ssize_t i = 0; i < count; ++i)
        devices.emplace_back(libusb_get_bus_number(list[i]), libusb_get_device_address(list[i]));
    libusb_free_device_list(list, 1);
    std::sort(devices.begin(), devices.end());
    const bool changed = lastDevices_ && *lastDevices_ != devices;
    lastDevices_ = std::move(devices);
    return changed;
}

void UsbWriterDevice::forgetDevice() {
    if (device_) libusb_unref_device(device_);
    device_ = nullptr;
}

bool UsbWriterDevice::discover() {
    if (!context_) return false;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    if (count < 0) return false;
    // A handle whose device left the bus (pulled out, perhaps already back under
    // a new address) can never transfer again: close it so the link reopens.
    if (handle_) {
        libusb_device* held = libusb_get_device(handle_);
        bool present = false;
        for (ssize_t i = 0; i < count && !present; ++i) present = list[i] == held;
        if (!present) release();
    }
    bool found = false;
    for (ssize_t i = 0; i < count && !found; ++i) {
        auto iface = writerInterfaceOf(list[i]);
        if (!iface) continue;
        AttachedWriter identity = identityOf(list[i]);
        if (!choice_.matches(identity)) continue;
        // The stored device is replaced; an open link keeps its own handle.
        forgetDevice();
        device_ = libusb_ref_device(list[i]);
        interface_ = *iface;
        found_ = std::move(identity);
        found = true;
    }
    libusb_free_device_list(list, 1);
    return found;
}

std::vector<AttachedWriter> UsbWriterDevice::attachedWriters(bool probeUse) const {
    std::vector<AttachedWriter> writers;
    if (!context_) return writers;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    if (count < 0) return writers;
    libusb_device* held = handle_ ? libusb_get_device(handle_) : nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        auto iface = writerInterfaceOf(list[i]);
        if (!iface) continue;
        AttachedWriter w = identityOf(list[i]);
        if (probeUse && list[i] != held) {
            // Only a claim tells: a program holding the Writer has its interface
            // claimed, and the kernel refuses a second claim as busy.
            libusb_device_handle* probe = nullptr;
            const int rc = libusb_open(list[i], &probe);
            if (rc != LIBUSB_SUCCESS) {
                w.noAccess = rc == LIBUSB_ERROR_ACCESS;
                w.inUse = rc == LIBUSB_ERROR_BUSY;
            } else {
                const int claim = libusb_claim_interface(probe, iface->number);
                if (claim == LIBUSB_SUCCESS)
                    libusb_release_interface(probe, iface->number);
                else if (claim == LIBUSB_ERROR_BUSY)
                    w.inUse = true;
                else if (claim == LIBUSB_ERROR_ACCESS)
                    w.noAccess = true;
                libusb_close(probe);
            }
        }
        writers.push_back(std::move(w));
    }
    libusb_free_device_list(list, 1);
    std::sort(writers.begin(), writers.end(), [](const AttachedWriter& a, const AttachedWriter& b) {
        return portNumbers(a.port) < portNumbers(b.port);
    });
    return writers;
}

bool UsbWriterDevice::open() {
    if (!device_) return false;
    release();
    libusb_device_handle* handle = nullptr;
    if (libusb_open(device_, &handle) != LIBUSB_SUCCESS) return false;
    const int number = interface_.number;
    if (libusb_kernel_driver_active(handle, number) == 1 &&
        libusb_detach_kernel_driver(handle, number) != LIBUSB_SUCCESS) {
        libusb_close(handle);
        return false;
    }
    if (libusb_claim_interface(handle, number) != LIBUSB_SUCCESS) {
        libusb_close(handle);
        return false;
    }
    if (interface_.altSetting != 0 &&
        libusb_set_interface_alt_setting(handle, number, interface_.altSetting) != LIBUSB_SUCCESS) {
        libusb_release_interface(handle, number);
        libusb_close(handle);
        return false;
    }
    handle_ = handle;
    openInterface_ = interface_;
    claimed_ = true;
    return true;
}

void UsbWriterDevice::release() {
    if (!handle_) return;
    // After the Writer was pulled out these fail harmlessly; the handle is
    // freed all the same.
    if (claimed_) libusb_release_interface(handle_, openInterface_.number);
    libusb_close(handle_);
    handle_ = nullptr;
    claimed_ = false;
}

std::optional<std::string> UsbWriterDevice::transfer(Endpoint endpoint, std::uint8_t* data,
                                                     std::size_t length) {
    if (!handle_) return std::string(kNoDeviceText);
    const int slot = endpointSlot(endpoint);
    const bool in = slot == 1 || slot == 3;
    const unsigned timeout = in ? replyTimeoutMs_ : outTimeoutMs_;
    int moved = 0;  // the Writer's count of bytes moved is not looked at
    const auto address = static_cast<unsigned char>(endpoint);
    const int len = static_cast<int>(length);
    const int rc = openInterface_.interrupt[slot]
                       ? libusb_interrupt_transfer(handle_, address, data, len, &moved, timeout)
                       : libusb_bulk_transfer(handle_, address, data, len, &moved, timeout);
    if (rc != LIBUSB_SUCCESS) return std::string(libusb_strerror(rc));
    return std::nullopt;
}

}  // namespace sonoprog::link::usb
