#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace sonoprog::core {

// A failing status byte of a command's reply and the line it is logged with.
struct StatusText {
    std::uint8_t status;
    std::string_view text;
};

// One command's failing statuses, as data, and the line of any status the
// rows do not list. Every chip's protocol header keeps its tables in this shape.
struct StatusTable {
    std::span<const StatusText> rows;
    std::string_view other;

    constexpr std::string_view text(std::uint8_t status) const {
        for (const StatusText& row : rows)
            if (row.status == status) return row.text;
        return other;
    }
};

}  // namespace sonoprog::core
