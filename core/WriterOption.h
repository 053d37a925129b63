#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sonoprog::core {

// What stands behind the link: the real Writer on USB, or the virtual Writer
// (blank chips, or kept in a folder between runs).
struct WriterOption {
    enum class Kind { Usb, Sim, SimDir };
    Kind kind = Kind::Usb;
    std::string folder;  // SimDir only
    friend bool operator==(const WriterOption&, const WriterOption&) = default;
};

// "usb", "sim" or "sim:DIR" (DIR not empty); nullopt for anything else.
std::optional<WriterOption> parseWriterOption(std::string_view text);

}  // namespace sonoprog::core
