#include "link/ConnectionMonitor.h"

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
    if (lent_) return;
    if (!link_.Discover()) {
        if (link_.connected()) link_.Release();
        link_.setConnected(false);
        // Rewritten even when the state already was "not connected".
        showStatus_(false);
        return;
    }
    // The open link stays open, unless the device it was opened on went away
    // and came back unseen: then the Writer is opened anew.
    if (link_.connected() && link_.isOpen()) return;
    if (link_.Open()) {
        link_.setConnected(true);
        showStatus_(true);
    } else if (link_.connected()) {
        // The held link is dead and the Writer cannot be opened again.
        link_.setConnected(false);
        showStatus_(false);
    }
}

void ConnectionMonitor::lend() {
    if (lent_) return;
    lent_ = true;
    if (link_.isOpen()) link_.Release();
    link_.setConnected(false);
}

void ConnectionMonitor::takeBack() {
    if (!lent_) return;
    lent_ = false;
    const bool connected = link_.Discover() && link_.Open();
    link_.setConnected(connected);
    showStatus_(connected);
}

}  // namespace sonoprog::link
