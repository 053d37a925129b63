#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sonoprog::core {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kPassBlue{0, 0, 255};
inline constexpr Rgb kFailRed{255, 0, 0};
inline constexpr Rgb kTimeGreen{0, 128, 0};

enum class LineKind { Heading, Step, Pass, Fail, Warn, Time };

// One line of an operation pane exactly as the user sees it: the text with its
// prefix, one colour (nullopt = the system's window-text colour) and boldness.
struct LogLine {
    LineKind kind = LineKind::Step;
    std::string text;
    std::optional<Rgb> colour;
    bool bold = false;
    friend bool operator==(const LogLine&, const LogLine&) = default;
};

const char* lineKindName(LineKind kind);

}  // namespace sonoprog::core
