#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "link/usb/UsbWriterDevice.h"

namespace sonoprog::cli {

namespace {

std::string stateOf(const link::usb::AttachedWriter& w) {
    if (w.inUse) return "in use";
    if (w.noAccess) return "no access";
    return "free";
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text + "  ";
}

}  // namespace

// The Writers attached now, by port; each one is opened briefly to see
// whether another program has it.
int runWriters(Session& s) {
    link::usb::UsbWriterDevice usb;
    if (!usb.available()) {
        s.error("USB cannot be used (libusb did not start)");
        return kExitFailed;
    }
    const auto writers = usb.attachedWriters(true);
    std::FILE* out = s.out();
    if (s.invocation().json) {
        for (const auto& w : writers)
            std::fprintf(out,
                         "{\"kind\":\"writer\",\"port\":%s,\"writer\":%s,\"serial\":%s,\"inUse\":%"
                         "s,\"access\":%s}\n",
                         jsonString(w.port).c_str(), jsonString("usb:" + w.port).c_str(),
                         w.serial.empty() ? "null" : jsonString(w.serial).c_str(),
                         w.inUse ? "true" : "false", w.noAccess ? "false" : "true");
        std::fflush(out);
        return kExitPassed;
    }
    if (writers.empty()) {
        std::fputs("No Writer is attached.\n", out);
        std::fflush(out);
        return kExitPassed;
    }
    std::size_t portWidth = 4, serialWidth = 6;
    for (const auto& w : writers) {
        portWidth = std::max(portWidth, w.port.size());
        serialWidth = std::max(serialWidth, w.serial.size());
    }
    std::string header = padded("PORT", portWidth) + padded("SERIAL", serialWidth) + "STATE\n";
    std::fputs(header.c_str(), out);
    for (const auto& w : writers) {
        std::string line = padded(w.port, portWidth) +
                           padded(w.serial.empty() ? "-" : w.serial, serialWidth) + stateOf(w) +
                           "\n";
        std::fputs(line.c_str(), out);
    }
    std::fflush(out);
    return kExitPassed;
}

}  // namespace sonoprog::cli
