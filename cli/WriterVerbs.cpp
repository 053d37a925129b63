#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "link/usb/UsbWriterDevice.h"
#include "production/ProductionLoop.h"

namespace sonoprog::cli {

namespace {

std::string stateOf(const link::usb::AttachedWriter& w) {
    if (w.inUse) return "in use";
    if (w.noAccess) return "no access";
    return "free";
}

const char* wearName(production::SocketWear wear) {
    switch (wear) {
        case production::SocketWear::Fine:
            return "fine";
        case production::SocketWear::NearLife:
            return "near-life";
        case production::SocketWear::AtLife:
            return "at-life";
    }
    return "fine";
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
    // The sockets' counts, when there are records to count them (a station
    // that never produced has none, and that is no error here; records that
    // cannot be read are, after the list).
    std::vector<records::SocketCount> counts;
    if (auto store = openStore(s, true, true)) {
        if (auto read = store->socketCounts()) {
            counts = std::move(*read);
        } else {
            s.error(store->lastError());
            s.markFailed();
        }
    }
    const auto countOf = [&](const std::string& writer) -> std::optional<long long> {
        for (const auto& c : counts)
            if (c.writer == writer) return c.insertions;
        return std::nullopt;
    };
    const long long life = production::readLineSettings(s.paths().setupIni()).socketLife;
    std::FILE* out = s.out();
    if (s.invocation().json) {
        for (const auto& w : writers) {
            // The socket's count when the records hold one for this Writer.
            const auto insertions = countOf(link::usb::identityText(w));
            std::fprintf(out,
                         "{\"kind\":\"writer\",\"port\":%s,\"writer\":%s,\"serial\":%s,\"inUse\":%"
                         "s,\"access\":%s%s}\n",
                         jsonString(w.port).c_str(), jsonString("usb:" + w.port).c_str(),
                         w.serial.empty() ? "null" : jsonString(w.serial).c_str(),
                         w.inUse ? "true" : "false", w.noAccess ? "false" : "true",
                         insertions
                             ? (",\"socket_insertions\":" + std::to_string(*insertions)).c_str()
                             : "");
        }
        // Every socket counted, attached or not (the virtual Writers' too).
        for (const auto& c : counts)
            std::fprintf(out,
                         "{\"kind\":\"socket\",\"writer\":%s,\"insertions\":%lld,\"life\":%s,"
                         "\"wear\":\"%s\",\"reset_time\":%s}\n",
                         jsonString(c.writer).c_str(), c.insertions,
                         life > 0 ? std::to_string(life).c_str() : "null",
                         wearName(production::socketWear(c.insertions, life)),
                         c.resetTime.empty() ? "null" : jsonString(c.resetTime).c_str());
        std::fflush(out);
        return s.exitStatus();
    }
    if (writers.empty()) {
        std::fputs("No Writer is attached.\n", out);
        std::fflush(out);
        return s.exitStatus();
    }
    std::size_t portWidth = 4, serialWidth = 6;
    for (const auto& w : writers) {
        portWidth = std::max(portWidth, w.port.size());
        serialWidth = std::max(serialWidth, w.serial.size());
    }
    // A SOCKET column (insertions since the socket's reset) once any is counted.
    bool anyCounted = false;
    for (const auto& w : writers) anyCounted = anyCounted || countOf(link::usb::identityText(w));
    std::string header = padded("PORT", portWidth) + padded("SERIAL", serialWidth) +
                         (anyCounted ? padded("STATE", 9) + "SOCKET\n" : "STATE\n");
    std::fputs(header.c_str(), out);
    for (const auto& w : writers) {
        const auto insertions = countOf(link::usb::identityText(w));
        std::string line =
            padded(w.port, portWidth) + padded(w.serial.empty() ? "-" : w.serial, serialWidth) +
            (anyCounted ? padded(stateOf(w), 9) + (insertions ? std::to_string(*insertions) : "-")
                        : stateOf(w)) +
            "\n";
        std::fputs(line.c_str(), out);
    }
    std::fflush(out);
    return s.exitStatus();
}

}  // namespace sonoprog::cli
