#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace sonoprog::audio {

inline constexpr double kNormalizePeakDb = -1.0;

struct ConvertOptions {
    std::uint32_t rate = 8000;  // of the result
    // Mean of all channels; off takes the first channel alone.
    bool mixChannels = false;
    // Peak of the result at -1 dBFS.
    bool normalize = true;
    // Cuts what lies before the first and after the last sample at or above
    // this level (dBFS of the result, after normalising).
    std::optional<double> trimDb;
    // Called once per block, so a window can breathe during a long file.
    std::function<void()> progress;
};

struct ConvertResult {
    bool ok = false;
    std::string error;  // libsndfile's reason, or what failed on writing
    std::uint32_t sourceRate = 0;
    int sourceChannels = 0;
    std::uint32_t samples = 0;  // data bytes written
    double peak = 0;            // of the resampled signal before any gain
};

// The canonical 44-byte header of an 8-bit mono PCM WAV holding dataSize bytes.
std::array<std::uint8_t, 44> waveHeader(std::uint32_t rate, std::uint32_t dataSize);

// Decodes `source`, makes it one channel, resamples it to options.rate (the
// very-high-quality recipe), applies the gain and the trim, dithers and writes
// `target` as 8-bit mono PCM WAV. Memory stays flat however long the source:
// the first pass streams the resampled signal into an anonymous temporary file
// while it measures the peak, the second streams it from there to the WAV. The
// target appears only complete: it is written under a temporary name and
// renamed at the end, so a failure leaves any earlier file at `target` alone.
ConvertResult convertToWave(const std::filesystem::path& source,
                            const std::filesystem::path& target, const ConvertOptions& options);

}  // namespace sonoprog::audio
