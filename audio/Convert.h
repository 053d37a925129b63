#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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
    // The most data bytes (one per sample) the result may hold: what the
    // largest chip this installation programs takes in one section. 0: no
    // limit. A longer result is refused before the target is written, with
    // how many seconds fit.
    std::uint64_t maxBytes = 0;
    // Where the first pass keeps the resampled signal; empty: the system's
    // temporary folder.
    std::filesystem::path scratchDir;
};

struct ConvertResult {
    bool ok = false;
    std::string error;  // libsndfile's reason, or what failed on writing
    std::uint32_t sourceRate = 0;
    int sourceChannels = 0;
    std::uint32_t samples = 0;  // data bytes written
    double peak = 0;            // of the resampled signal before any gain
    // What the decoder printed, caught instead of reaching standard error.
    std::vector<std::string> warnings;
};

// The canonical 44-byte header of an 8-bit mono PCM WAV holding dataSize bytes.
std::array<std::uint8_t, 44> waveHeader(std::uint32_t rate, std::uint32_t dataSize);

// Decodes `source`, makes it one channel, resamples it to options.rate (the
// very-high-quality recipe), applies the gain and the trim, dithers and writes
// `target` as 8-bit mono PCM WAV. Memory stays flat however long the source
// and whatever the ratio of the rates: blocks of a fixed size go from the
// decoder through the resampler; the first pass streams the resampled signal
// into a temporary file while it measures the peak, the second streams it from
// there to the WAV. Before the first pass the length the source declares is
// held against options.maxBytes and the free disk space. The target appears
// only complete: it is written under a name created exclusively in its folder
// and renamed at the end, so a failure leaves any earlier file at `target`
// alone and a name planted beside it is never followed.
ConvertResult convertToWave(const std::filesystem::path& source,
                            const std::filesystem::path& target, const ConvertOptions& options);

}  // namespace sonoprog::audio
