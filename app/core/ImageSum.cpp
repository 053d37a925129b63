#include "ImageSum.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace sonoprog::core {

std::uint32_t sumBytes(const std::uint8_t* data, std::size_t length, std::uint32_t start) {
    // Sum in 32-bit lanes over short runs so the compiler can vectorise; each
    // run of at most 2^24 bytes cannot overflow a lane's partial sum.
    std::uint32_t total = start;
    constexpr std::size_t kRun = 1u << 16;
    while (length > 0) {
        std::size_t n = length < kRun ? length : kRun;
        std::uint32_t part = 0;
        for (std::size_t i = 0; i < n; ++i) part += data[i];
        total += part;
        data += n;
        length -= n;
    }
    return total;
}

ImageSumResult sumImageStream(std::FILE* f, YieldHook& yield, std::uint64_t limit) {
    using Clock = std::chrono::steady_clock;
    // The check comes after a block, so the pause is the breath plus one
    // block's read: both kept short enough to stay under 30 ms.
    constexpr auto kBreath = std::chrono::milliseconds(20);
    constexpr std::size_t kBlock = 64u << 10;
    ImageSumResult result;
    if (!f || std::fseek(f, 0, SEEK_SET) != 0) return result;
    std::clearerr(f);
    std::vector<std::uint8_t> block(kBlock);
    yield.yield();
    auto lastBreath = Clock::now();
    while (result.bytes < limit) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, limit - result.bytes));
        std::size_t n = std::fread(block.data(), 1, want, f);
        result.sum = sumBytes(block.data(), n, result.sum);
        result.bytes += n;
        if (n < want) break;
        if (Clock::now() - lastBreath >= kBreath) {
            yield.yield();
            lastBreath = Clock::now();
        }
    }
    result.ok = !std::ferror(f);
    return result;
}

}  // namespace sonoprog::core
