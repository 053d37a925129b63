#include "audio/WavePeaks.h"

#include <algorithm>
#include <cstdio>

#include "core/FileHandle.h"

namespace sonoprog::audio {

std::vector<ColumnPeak> wavePeaks(const std::filesystem::path& file, std::uint32_t dataSize,
                                  int columns, std::uint32_t dataOffset) {
    if (columns <= 0) return {};
    // Only a regular file: a pipe put in the section's place would never answer.
    core::FilePtr input = core::openForReading(file);
    if (!input) return {};
    std::FILE* f = input.get();
    std::vector<ColumnPeak> peaks(static_cast<std::size_t>(columns));
    std::vector<bool> seen(peaks.size(), false);
    if (std::fseek(f, static_cast<long>(dataOffset), SEEK_SET) == 0 && dataSize > 0) {
        std::vector<std::uint8_t> block(64 * 1024);
        std::uint64_t index = 0;
        while (index < dataSize) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), dataSize - index));
            const std::size_t got = std::fread(block.data(), 1, want, f);
            for (std::size_t i = 0; i < got; ++i, ++index) {
                const auto c = static_cast<std::size_t>(index * peaks.size() / dataSize);
                ColumnPeak& p = peaks[c];
                const std::uint8_t v = block[i];
                if (!seen[c]) {
                    p.low = p.high = v;
                    seen[c] = true;
                } else {
                    p.low = std::min(p.low, v);
                    p.high = std::max(p.high, v);
                }
            }
            if (got < want) break;
        }
    }
    return peaks;
}

}  // namespace sonoprog::audio
