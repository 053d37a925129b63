#include "tests/link/usb/EmulatedBus.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace sonoprog::test {

namespace {

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

// An attribute in the record's hex form, with the trailing newline sysfs has.
std::string attribute(const std::string& name, const std::string& value) {
    std::vector<std::uint8_t> bytes(value.begin(), value.end());
    bytes.push_back('\n');
    return "H: " + name + "=" + hexOf(bytes) + "\n";
}

std::string hex4(unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", value);
    return buf;
}

std::string threeDigits(int value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03d", value);
    return buf;
}

bool endpointOf(unsigned char address, link::Endpoint& endpoint) {
    switch (address) {
        case 0x01:
            endpoint = link::Endpoint::CommandOut;
            return true;
        case 0x82:
            endpoint = link::Endpoint::ReplyIn;
            return true;
        case 0x03:
            endpoint = link::Endpoint::DataOut;
            return true;
        case 0x84:
            endpoint = link::Endpoint::DataIn;
            return true;
        default:
            return false;
    }
}

// The udev PRODUCT property: vendor/product/release in bare hexadecimal.
std::string productText(const UsbDeviceShape& shape) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%x/%x/100", shape.vendor, shape.product);
    return buf;
}

}  // namespace

std::vector<std::uint8_t> writerDescriptors(const UsbDeviceShape& shape) {
    const std::uint8_t endpointCount = shape.endpoints ? 4 : 0;
    const std::uint16_t total = 9 + 9 + 7 * endpointCount;
    std::vector<std::uint8_t> d = {
        // device: USB 2.0, class per interface, 64-byte control pipe, one configuration
        0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, static_cast<std::uint8_t>(shape.vendor),
        static_cast<std::uint8_t>(shape.vendor >> 8), static_cast<std::uint8_t>(shape.product),
        static_cast<std::uint8_t>(shape.product >> 8), 0x00, 0x01, 0x00, 0x00,
        static_cast<std::uint8_t>(shape.serial.empty() ? 0x00 : 0x03), 0x01,
        // configuration 1, bus powered, 100 mA
        0x09, 0x02, static_cast<std::uint8_t>(total), static_cast<std::uint8_t>(total >> 8), 0x01,
        0x01, 0x00, 0x80, 0x32,
        // interface 0, vendor class
        0x09, 0x04, 0x00, 0x00, endpointCount, 0xFF, 0x00, 0x00, 0x00};
    if (shape.endpoints)
        for (std::uint8_t address : {0x01, 0x82, 0x03, 0x84})
            d.insert(d.end(), {0x07, 0x05, address, 0x02, 0x40, 0x00, 0x00});
    return d;
}

bool mockEnvironmentChecked();

std::string sysfsDevicePath(const std::string& port) {
    const auto dash = port.find('-');
    std::string path = "/devices/pci0000:00/0000:00:14.0/usb" + port.substr(0, dash);
    // Every tier lies in the folder of its hub: 1-1, then 1-1.3, then 1-1.3.2.
    for (std::size_t at = port.find('.', dash); at != std::string::npos;
         at = port.find('.', at + 1))
        path += "/" + port.substr(0, at);
    return path + "/" + port;
}

void EmulatedBus::addHub(const std::string& port) {
    const int devnum = nextDeviceNumber();
    // A full-speed hub: class 9 device, one interface with its status endpoint.
    const std::vector<std::uint8_t> descriptors = {
        0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40, 0x09, 0x1d, 0x02, 0x00, 0x00, 0x01, 0x00,
        0x00, 0x00, 0x01, 0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xe0, 0x00, 0x09, 0x04, 0x00,
        0x00, 0x01, 0x09, 0x00, 0x00, 0x00, 0x07, 0x05, 0x81, 0x03, 0x01, 0x00, 0x0c};
    const std::string record =
        "P: " + sysfsDevicePath(port) + "\n" + "N: bus/usb/001/" + threeDigits(devnum) + "\n" +
        "E: DEVNAME=/dev/bus/usb/001/" + threeDigits(devnum) + "\n" + "E: DEVTYPE=usb_device\n" +
        "E: DRIVER=usb\n" + "E: SUBSYSTEM=usb\n" + "E: BUSNUM=001\n" +
        "E: DEVNUM=" + threeDigits(devnum) + "\n" + "E: PRODUCT=1d09/2/100\n" +
        attribute("idVendor", "1d09") + attribute("idProduct", "0002") +
        attribute("bNumConfigurations", "1") + attribute("bConfigurationValue", "1") +
        attribute("busnum", "1") + attribute("devnum", std::to_string(devnum)) +
        attribute("speed", "12") + "H: descriptors=" + hexOf(descriptors) + "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        std::string text = error ? error->message : "hub record refused";
        g_clear_error(&error);
        throw std::runtime_error(text);
    }
}

EmulatedBus::EmulatedBus() {
    if (!mockEnvironmentChecked())
        throw std::runtime_error("the USB tests must run under the umockdev preload library");
    testbed_ = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
    // libusb watches this folder from the start, also when no device is there yet.
    for (const char* dir : {"/dev", "/dev/bus", "/dev/bus/usb", "/dev/bus/usb/001"})
        ::mkdir((root_ + dir).c_str(), 0755);
}

EmulatedBus::~EmulatedBus() {
    g_object_unref(testbed_);
}

// One plug-in: the device node of that device number and its URBs. The
// handler's signal closure owns it too: umockdev may still dispatch an ioctl
// (the host closing its handle) after the EmulatedWriter is gone.
struct Attachment {
    ~Attachment() {
        for (auto* urb : flying) umockdev_ioctl_data_unref(urb);
        for (auto* urb : done) umockdev_ioctl_data_unref(urb);
    }
    std::weak_ptr<EmulatedWriter::State> owner;
    UMockdevIoctlBase* handler = nullptr;
    std::string devNode;
    std::string sysPath;
    bool gone = false;                        // the cable was pulled
    UMockdevIoctlClient* claimant = nullptr;  // the open handle holding the interface
    std::vector<UMockdevIoctlData*> flying;   // submitted, not finished
    std::deque<UMockdevIoctlData*> done;      // finished, not yet reaped
};

struct EmulatedWriter::State {
    std::mutex mutex;  //!< guards everything below and the virtual Writer
    std::unique_ptr<sim::VirtualWriter> writer;
    UsbDeviceShape shape;
    bool answering = true;
    bool naive = false;
    std::uint64_t unplugAt = 0;
    bool unplugOnReply = false;
    std::shared_ptr<Attachment> current;
    std::vector<std::shared_ptr<Attachment>> all;
    Counters counters;

    // The cable thread sends the removal when the unplug happened inside a URB.
    std::thread cable;
    std::condition_variable wake;
    std::condition_variable idle;
    bool removalDue = false;
    bool stopping = false;
    std::function<void()> removal;

    void finish(Attachment& a, UMockdevIoctlData* urbData, int status, int actual) {
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        urb->status = status;
        urb->actual_length = actual;
        a.done.push_back(urbData);
    }

    // What the kernel does to an open node when its device goes away.
    void actOutRemoval(Attachment& a) {
        if (naive) return;
        a.gone = true;
        for (UMockdevIoctlData* urb : a.flying) {
            finish(a, urb, -ESHUTDOWN, 0);
            ++counters.shutdown;
        }
        a.flying.clear();
    }

    void pullFromInside(Attachment& a) {
        actOutRemoval(a);
        writer->unplug();
        current.reset();
        removalDue = true;
        wake.notify_all();
    }

    bool handle(Attachment& a, UMockdevIoctlClient* client);
    void submit(Attachment& a, UMockdevIoctlClient* client, UMockdevIoctlData* arg);
};

namespace {
gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    Attachment* a = static_cast<std::shared_ptr<Attachment>*>(user)->get();
    auto state = a->owner.lock();
    if (!state) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    std::lock_guard<std::mutex> hold(state->mutex);
    return state->handle(*a, client) ? TRUE : FALSE;
}

// A handle closed without letting go: the kernel releases its claim.
void onClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    Attachment* a = static_cast<std::shared_ptr<Attachment>*>(user)->get();
    auto state = a->owner.lock();
    if (!state) return;
    std::lock_guard<std::mutex> hold(state->mutex);
    if (a->claimant == client) a->claimant = nullptr;
}
}  // namespace

bool EmulatedWriter::State::handle(Attachment& a, UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    // Reaping what finished before the cable went is still allowed; all else fails.
    if (a.gone && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB) {
        ++counters.refused;
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
            *reinterpret_cast<guint32*>(caps->data) =
                USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            umockdev_ioctl_data_unref(caps);
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        }
        case USBDEVFS_CLAIMINTERFACE:
            if (a.claimant && a.claimant != client) {
                umockdev_ioctl_client_complete(client, -1, EBUSY);
                return true;
            }
            a.claimant = client;
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_RELEASEINTERFACE:
            if (a.claimant == client) a.claimant = nullptr;
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESET:
        case USBDEVFS_RESETEP:
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_GETDRIVER:
            // No kernel driver is bound to the vendor interface.
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return true;
        case USBDEVFS_SUBMITURB:
            submit(a, client, arg);
            return true;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            if (a.done.empty()) {
                umockdev_ioctl_client_complete(client, -1, a.gone ? ENODEV : EAGAIN);
                return true;
            }
            UMockdevIoctlData* urbData = a.done.front();
            a.done.pop_front();
            UMockdevIoctlData* slot =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
            umockdev_ioctl_data_set_ptr(slot, 0, urbData);
            umockdev_ioctl_client_complete(client, 0, 0);
            umockdev_ioctl_data_unref(slot);
            umockdev_ioctl_data_unref(urbData);
            ++counters.reaped;
            return true;
        }
        case USBDEVFS_DISCARDURB: {
            const gulong address = *reinterpret_cast<gulong*>(arg->data);
            for (auto it = a.flying.begin(); it != a.flying.end(); ++it) {
                if ((*it)->client_addr != address) continue;
                finish(a, *it, -ENOENT, 0);
                a.flying.erase(it);
                ++counters.discarded;
                umockdev_ioctl_client_complete(client, 0, 0);
                return true;
            }
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return true;
        }
        default:
            counters.unknownRequests.push_back(request);
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            return true;
    }
}

void EmulatedWriter::State::submit(Attachment& a, UMockdevIoctlClient* client,
                                   UMockdevIoctlData* arg) {
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    ++counters.submitted;
    link::Endpoint endpoint;
    const bool known = urb->type == USBDEVFS_URB_TYPE_BULK && endpointOf(urb->endpoint, endpoint);
    if (!known || !shape.endpoints) {
        // An endpoint the interface does not have: the kernel refuses the URB.
        umockdev_ioctl_data_unref(urbData);
        umockdev_ioctl_client_complete(client, -1, ENOENT);
        return;
    }
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), urb->buffer_length, nullptr);
    umockdev_ioctl_client_complete(client, 0, 0);

    const bool in = (urb->endpoint & 0x80) != 0;
    const bool reply = endpoint == link::Endpoint::ReplyIn;
    const std::uint64_t number = writer->transferCount() + 1;

    if (reply && unplugOnReply) {
        // The command reached the chip; the cable goes while the reply is awaited.
        unplugOnReply = false;
        a.flying.push_back(urbData);
        pullFromInside(a);
    } else if (!reply && unplugAt != 0 && number == unplugAt) {
        unplugAt = 0;
        if (endpoint == link::Endpoint::CommandOut) {
            unplugOnReply = true;
        } else {
            a.flying.push_back(urbData);
            pullFromInside(a);
        }
    }
    if (a.gone || std::find(a.flying.begin(), a.flying.end(), urbData) != a.flying.end()) {
        umockdev_ioctl_data_unref(buffer);
        return;
    }
    if (in && !answering) {
        a.flying.push_back(urbData);  // stays pending: the Writer does not answer
        umockdev_ioctl_data_unref(buffer);
        return;
    }
    auto error =
        writer->transfer(endpoint, buffer->data, static_cast<std::size_t>(urb->buffer_length));
    umockdev_ioctl_data_unref(buffer);
    if (error)
        finish(a, urbData, -EPROTO, 0);
    else
        finish(a, urbData, 0, urb->buffer_length);
}

EmulatedWriter::EmulatedWriter(EmulatedBus& bus, std::unique_ptr<sim::VirtualWriter> writer,
                               UsbDeviceShape shape, std::string port)
    : bus_(bus), shape_(shape), port_(std::move(port)), state_(std::make_shared<State>()) {
    state_->writer = std::move(writer);
    state_->shape = shape;
    state_->writer->unplug();
    State* s = state_.get();
    state_->removal = [this] { sendRemoval(); };
    state_->cable = std::thread([s] {
        std::unique_lock<std::mutex> hold(s->mutex);
        while (true) {
            s->wake.wait(hold, [s] { return s->removalDue || s->stopping; });
            if (s->removalDue) {
                hold.unlock();
                s->removal();
                hold.lock();
                s->removalDue = false;
                s->idle.notify_all();
            }
            if (s->stopping) return;
        }
    });
}

EmulatedWriter::~EmulatedWriter() {
    {
        std::lock_guard<std::mutex> hold(state_->mutex);
        state_->stopping = true;
        state_->wake.notify_all();
    }
    state_->cable.join();
    if (plugged()) unplug();
    for (auto& a : state_->all) {
        umockdev_testbed_detach_ioctl(bus_.testbed(), a->devNode.c_str(), nullptr);
        g_object_unref(a->handler);
    }
}

void EmulatedWriter::plug() {
    if (plugged()) return;
    const int devnum = bus_.nextDeviceNumber();
    auto a = std::make_shared<Attachment>();
    a->owner = state_;
    a->devNode = "/dev/bus/usb/001/" + threeDigits(devnum);
    const std::string devicePath = sysfsDevicePath(port_);
    a->handler = umockdev_ioctl_base_new();
    auto* keep = new std::shared_ptr<Attachment>(a);
    g_signal_connect_data(
        a->handler, "handle-ioctl", G_CALLBACK(onIoctl), keep,
        [](gpointer keep, GClosure*) { delete static_cast<std::shared_ptr<Attachment>*>(keep); },
        GConnectFlags(0));
    // Both signals end with the handler object, whose first closure frees `keep`.
    g_signal_connect(a->handler, "client-vanished", G_CALLBACK(onClientVanished), keep);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(bus_.testbed(), a->devNode.c_str(), a->handler, &error)) {
        std::string text = error ? error->message : "attach failed";
        g_clear_error(&error);
        throw std::runtime_error(text);
    }
    {
        std::lock_guard<std::mutex> hold(state_->mutex);
        state_->writer->plug();
        state_->writer->open();
        state_->current = a;
        state_->all.push_back(a);
    }
    const std::string record =
        "P: " + devicePath + "\n" + "N: bus/usb/001/" + threeDigits(devnum) + "\n" +
        "E: DEVNAME=" + a->devNode + "\n" + "E: DEVTYPE=usb_device\n" + "E: DRIVER=usb\n" +
        "E: SUBSYSTEM=usb\n" + "E: BUSNUM=001\n" + "E: DEVNUM=" + threeDigits(devnum) + "\n" +
        "E: PRODUCT=" + productText(shape_) + "\n" + "E: MAJOR=189\n" +
        "E: MINOR=" + std::to_string(devnum - 1) + "\n" +
        attribute("idVendor", hex4(shape_.vendor)) + attribute("idProduct", hex4(shape_.product)) +
        attribute("bNumConfigurations", "1") + attribute("bConfigurationValue", "1") +
        attribute("busnum", "1") + attribute("devnum", std::to_string(devnum)) +
        attribute("speed", "12") +
        (shape_.serial.empty() ? std::string() : attribute("serial", shape_.serial)) +
        "H: descriptors=" + hexOf(writerDescriptors(shape_)) + "\n";
    a->sysPath = "/sys" + devicePath;
    if (!umockdev_testbed_add_from_string(bus_.testbed(), record.c_str(), &error)) {
        std::string text = error ? error->message : "device record refused";
        g_clear_error(&error);
        throw std::runtime_error(text);
    }
}

void EmulatedWriter::unplug() {
    {
        std::lock_guard<std::mutex> hold(state_->mutex);
        if (!state_->current) return;
        state_->actOutRemoval(*state_->current);
        state_->writer->unplug();
    }
    sendRemoval();
    std::lock_guard<std::mutex> hold(state_->mutex);
    state_->current.reset();
}

void EmulatedWriter::sendRemoval() {
    std::string sysPath;
    {
        std::lock_guard<std::mutex> hold(state_->mutex);
        if (state_->all.empty()) return;
        sysPath = state_->all.back()->sysPath;
    }
    umockdev_testbed_uevent(bus_.testbed(), sysPath.c_str(), "remove");
    umockdev_testbed_remove_device(bus_.testbed(), sysPath.c_str());
}

bool EmulatedWriter::plugged() const {
    std::lock_guard<std::mutex> hold(state_->mutex);
    return state_->current != nullptr;
}

std::string EmulatedWriter::devNode() const {
    std::lock_guard<std::mutex> hold(state_->mutex);
    return state_->current ? state_->current->devNode : std::string();
}

void EmulatedWriter::unplugAtTransfer(std::uint64_t number) {
    std::lock_guard<std::mutex> hold(state_->mutex);
    state_->unplugAt = number;
    state_->unplugOnReply = false;
}

void EmulatedWriter::waitForCable() {
    std::unique_lock<std::mutex> hold(state_->mutex);
    state_->idle.wait(hold, [this] { return !state_->removalDue; });
}

void EmulatedWriter::setAnswering(bool answering) {
    std::lock_guard<std::mutex> hold(state_->mutex);
    state_->answering = answering;
}

bool EmulatedWriter::claimed() const {
    std::lock_guard<std::mutex> hold(state_->mutex);
    return state_->current && state_->current->claimant != nullptr;
}

void EmulatedWriter::setNaiveRemoval(bool naive) {
    std::lock_guard<std::mutex> hold(state_->mutex);
    state_->naive = naive;
}

std::mutex& EmulatedWriter::modelMutex() {
    return state_->mutex;
}
sim::VirtualWriter& EmulatedWriter::model() {
    return *state_->writer;
}

EmulatedWriter::Counters EmulatedWriter::counters() const {
    std::lock_guard<std::mutex> hold(state_->mutex);
    return state_->counters;
}

}  // namespace sonoprog::test
