#pragma once

#include <cstdint>
#include <string>

namespace sonoprog::cli {

// An option's number as the text an operator would type into a tab field:
// the operations read fields as signed 32-bit decimal and compute with the
// unsigned pattern, so 4294967295 goes in as "-1" and comes out the same.
inline std::string fieldText(std::uint64_t value) {
    return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

}  // namespace sonoprog::cli
