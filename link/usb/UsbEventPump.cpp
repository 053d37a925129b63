#include "link/usb/UsbEventPump.h"

#include <libusb.h>
#include <poll.h>

namespace sonoprog::link::usb {

UsbEventPump::UsbEventPump(UsbWriterDevice& device, QObject* parent)
    : QObject(parent), device_(device) {
    if (device_.hasHotplug()) {
        libusb_context* ctx = device_.context();
        libusb_set_pollfd_notifiers(ctx, &UsbEventPump::pollfdAdded, &UsbEventPump::pollfdRemoved,
                                    this);
        if (const libusb_pollfd** fds = libusb_get_pollfds(ctx)) {
            for (const libusb_pollfd** p = fds; *p; ++p) addNotifier((*p)->fd, (*p)->events);
            libusb_free_pollfds(fds);
        }
        // A hot-plug event that libusb handled inside a transfer has already
        // drained its descriptor; deliver it on the next turn of the loop.
        device_.setWakeHandler([this] {
            QMetaObject::invokeMethod(
                this, [this] { device_.deliverPendingChange(); }, Qt::QueuedConnection);
        });
        return;
    }
    device_.pollDeviceList();
    connect(&timer_, &QTimer::timeout, this, &UsbEventPump::onTimer);
    timer_.start(kPollIntervalMs);
}

UsbEventPump::~UsbEventPump() {
    device_.setWakeHandler({});
    if (device_.hasHotplug())
        libusb_set_pollfd_notifiers(device_.context(), nullptr, nullptr, nullptr);
}

void UsbEventPump::pollfdAdded(int fd, short events, void* user) {
    static_cast<UsbEventPump*>(user)->addNotifier(fd, events);
}

void UsbEventPump::pollfdRemoved(int fd, void* user) {
    static_cast<UsbEventPump*>(user)->removeNotifiers(fd);
}

void UsbEventPump::addNotifier(int fd, short events) {
    auto add = [&](QSocketNotifier::Type type) {
        auto notifier = std::make_unique<QSocketNotifier>(fd, type);
        connect(notifier.get(), &QSocketNotifier::activated, this, &UsbEventPump::onActivated);
        notifiers_.emplace(fd, std::move(notifier));
    };
    if (events & POLLIN) add(QSocketNotifier::Read);
    if (events & POLLOUT) add(QSocketNotifier::Write);
}

void UsbEventPump::removeNotifiers(int fd) {
    // libusb may remove a descriptor from inside its event handling, which a
    // notifier's own signal started: let Qt delete the notifiers later.
    auto [first, last] = notifiers_.equal_range(fd);
    for (auto it = first; it != last; ++it) {
        it->second->setEnabled(false);
        it->second.release()->deleteLater();
    }
    notifiers_.erase(first, last);
}

void UsbEventPump::onActivated() {
    device_.handleEvents();
}

void UsbEventPump::onTimer() {
    if (device_.pollDeviceList()) device_.notifyDeviceChange();
}

}  // namespace sonoprog::link::usb
