#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sonoprog::sim {

// Makes sure `file` is a chip file of `size` bytes: a missing file is created
// blank (every byte 0xFF) under a temporary name and renamed into place, so
// that no run, however it ends, leaves a chip file of another size behind. An
// existing file of the wrong size is refused, never resized. nullopt when the
// file is ready; otherwise the message to show. `created` tells whether this
// call made the blank chip.
std::optional<std::string> ensureChipFile(const std::filesystem::path& file, std::size_t size,
                                          const std::string& chipName, bool* created = nullptr);

// Removes "<chip file>.new-PID" files that a run killed while it made a chip
// file left behind, when process PID no longer runs. Returns the names removed.
std::vector<std::filesystem::path> removeStaleChipFiles(const std::filesystem::path& folder);

}  // namespace sonoprog::sim
