#include "core/WriterOption.h"

#include <filesystem>
#include <system_error>

namespace sonoprog::core {

namespace {

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

bool isUsbPortPath(std::string_view text) {
    const auto dash = text.find('-');
    if (dash == std::string_view::npos || !allDigits(text.substr(0, dash))) return false;
    std::string_view rest = text.substr(dash + 1);
    // The kernel allows at most seven tiers below the root hub.
    int tiers = 0;
    while (true) {
        const auto dot = rest.find('.');
        if (!allDigits(rest.substr(0, dot)) || ++tiers > 7) return false;
        if (dot == std::string_view::npos) return true;
        rest = rest.substr(dot + 1);
    }
}

std::string WriterOption::recordedIdentity() const {
    if (kind == Kind::Sim) return "sim";
    if (kind == Kind::SimDir) {
        std::error_code ec;
        return "sim:" + std::filesystem::absolute(folder, ec).string();
    }
    return text();
}

std::string WriterOption::text() const {
    switch (kind) {
        case Kind::Usb:
            if (!port.empty()) return "usb:" + port;
            if (!serial.empty()) return "usb:serial=" + serial;
            return "usb";
        case Kind::Sim:
            return "sim";
        case Kind::SimDir:
            return "sim:" + folder;
    }
    return {};
}

std::optional<WriterOption> parseWriterOption(std::string_view text) {
    WriterOption option;
    if (text == "usb") return option;
    if (text == "sim") {
        option.kind = WriterOption::Kind::Sim;
        return option;
    }
    constexpr std::string_view kSimDir = "sim:";
    if (text.size() > kSimDir.size() && text.substr(0, kSimDir.size()) == kSimDir) {
        option.kind = WriterOption::Kind::SimDir;
        option.folder = std::string(text.substr(kSimDir.size()));
        return option;
    }
    constexpr std::string_view kUsb = "usb:";
    constexpr std::string_view kSerial = "serial=";
    if (text.substr(0, kUsb.size()) == kUsb) {
        std::string_view rest = text.substr(kUsb.size());
        if (rest.substr(0, kSerial.size()) == kSerial && rest.size() > kSerial.size()) {
            option.serial = std::string(rest.substr(kSerial.size()));
            return option;
        }
        if (isUsbPortPath(rest)) {
            option.port = std::string(rest);
            return option;
        }
    }
    return std::nullopt;
}

}  // namespace sonoprog::core
