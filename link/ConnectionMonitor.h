#pragma once

#include <functional>

#include "link/Link.h"

namespace sonoprog::link {

// Follows the Writer being plugged in and pulled out and keeps the status
// field in step. Only this class opens and releases the link.
class ConnectionMonitor {
public:
    // showStatus(true) = "Writer Connect" in blue, false = "Writer Disconnect" in red.
    ConnectionMonitor(Link& link, std::function<void(bool connected)> showStatus);

    // At window construction: subscribe to device changes, first connection attempt.
    void start();
    // Any USB device came or went.
    void onDeviceChange();

    // The Writer handed to other processes that open it themselves (the
    // production tiles' workers): the link is released and device changes
    // wait. The status field keeps what it showed. Taking it back looks for
    // the Writer anew, as a device change would.
    void lend();
    void takeBack();
    bool lent() const { return lent_; }

private:
    Link& link_;
    std::function<void(bool)> showStatus_;
    bool lent_ = false;
};

}  // namespace sonoprog::link
