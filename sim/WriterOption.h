#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace sonoprog::sim {

// The --writer option of both front ends: "usb" (the real Writer), "sim" (the
// virtual Writer with blank chips for this run), "sim:DIR" (the virtual
// Writer whose chips and settings live in DIR between runs).
struct WriterChoice {
    enum class Kind { Usb, Sim, SimDir };
    Kind kind = Kind::Usb;
    std::filesystem::path dir;  // SimDir only
};

// nullopt for anything else, "sim:" with an empty folder included.
std::optional<WriterChoice> parseWriterOption(std::string_view text);

}  // namespace sonoprog::sim
