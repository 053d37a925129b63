#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonoprog::core {

// What stands behind the link: the real Writer on USB, or the virtual Writer
// (blank chips, or kept in a folder between runs).
struct WriterOption {
    enum class Kind { Usb, Sim, SimDir };
    Kind kind = Kind::Usb;
    std::string folder;  // SimDir only
    // Usb only, at most one of them: the Writer at this USB port path
    // ("1-1.3"), or the one reporting this serial number. Neither: the only
    // (or, in the window, the first) Writer attached.
    std::string port = {};
    std::string serial = {};
    friend bool operator==(const WriterOption&, const WriterOption&) = default;

    // The text that names this Writer again: "usb:1-1.3", "sim:DIR".
    std::string text() const;
    // How the records name this Writer before a USB Writer is found: "usb",
    // "usb:1-1.3", "sim", "sim:" and the folder's absolute path.
    std::string recordedIdentity() const;
};

// "usb", "usb:PORT" (bus-port.port..., as the system names the port),
// "usb:serial=TEXT" (TEXT not empty), "sim" or "sim:DIR" (DIR not empty);
// nullopt for anything else.
std::optional<WriterOption> parseWriterOption(std::string_view text);

// Whether text is a USB port path: "B-P" or "B-P.P...", decimal numbers.
bool isUsbPortPath(std::string_view text);

}  // namespace sonoprog::core
