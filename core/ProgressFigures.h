#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sonoprog::core {

// What a long loop counts its work in.
enum class ProgressUnit { Pages, Bytes, Sections, Files };

// "pages", "bytes", "sections", "files"
const char* progressUnitName(ProgressUnit unit);

// Where a long loop stands: done of total, the time since the loop began
// and the time it will still take (nullopt until enough work is done to
// estimate it from).
struct ProgressFigures {
    ProgressUnit unit = ProgressUnit::Pages;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    double elapsedS = 0;
    std::optional<double> etaS;
    friend bool operator==(const ProgressFigures&, const ProgressFigures&) = default;
};

// 124032 -> "124,032"
std::string groupedNumber(std::uint64_t value);
// Whole seconds as "M:SS" or "H:MM:SS": 72 -> "1:12", 3723 -> "1:02:03".
std::string durationText(double seconds);
// "8,000 of 124,032 pages · 1:12 elapsed · 4:10 left" (UTF-8); without the
// last part while the time left is unknown.
std::string progressText(const ProgressFigures& figures);

}  // namespace sonoprog::core
