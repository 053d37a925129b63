#include "ConnectionMonitor.h"

namespace sonoprog::link {

ConnectionMonitor::ConnectionMonitor(Link& link, std::function<void(bool)> showStatus)
    : link_(link), showStatus_(std::move(showStatus)) {}

void ConnectionMonitor::start() {
    link_.device().setDeviceChangeHandler([this] { onDeviceChange(); });
    bool connected = link_.Discover() && link_.Open();
    link_.setConnected(connected);
    showStatus_(connected);
}

void ConnectionMonitor::onDeviceChange() {
    if (!link_.Discover()) {
        if (link_.connected()) link_.Release();
        link_.setConnected(false);
        // Rewritten even when the state already was "not connected".
        showStatus_(false);
        return;
    }
    if (link_.connected()) return;  // the open link stays open
    if (link_.Open()) {
        link_.setConnected(true);
        showStatus_(true);
    }
}

}  // namespace sonoprog::link
