#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>

#include "link/usb/UsbWriterDevice.h"

namespace sonoprog::link::usb {

// Weaves the libusb backend into the Qt event loop of the window's thread:
// socket notifiers on libusb's poll descriptors run its event handling (and
// with it the hot-plug callbacks) without busy polling. Where libusb has no
// hot-plug support, the device list is looked at once a second instead.
class UsbEventPump final : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollIntervalMs = 1000;

    explicit UsbEventPump(UsbWriterDevice& device, QObject* parent = nullptr);
    ~UsbEventPump() override;

    bool usesHotplug() const { return !timer_.isActive(); }
    int notifierCount() const { return static_cast<int>(notifiers_.size()); }

private:
    static void pollfdAdded(int fd, short events, void* user);
    static void pollfdRemoved(int fd, void* user);
    void addNotifier(int fd, short events);
    void removeNotifiers(int fd);
    void onActivated();
    void onTimer();

    UsbWriterDevice& device_;
    std::multimap<int, std::unique_ptr<QSocketNotifier>> notifiers_;
    QTimer timer_;
};

}  // namespace sonoprog::link::usb
