#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "cli/Session.h"
#include "core/ImageCompare.h"

namespace sonoprog::cli {

// What a compare command prints once the chip was read: the mismatching
// ranges (start, end, bytes, bits 1->0, bits 0->1, hint), the pages read at
// their spare page, and "SAME" or "DIFFER n ranges m bytes"; under --json one
// {"kind":"compare",...} object and the counts in the result. Returns the
// exit status: 0 for same, 1 for differ.
int reportComparison(Session& s, const core::ImageComparer& diff,
                     const std::vector<std::pair<std::uint32_t, std::uint32_t>>& mirrored = {});

}  // namespace sonoprog::cli
