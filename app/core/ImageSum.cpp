#include "ImageSum.h"

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

ImageSumResult sumImageStream(std::FILE* f, YieldHook& yield) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kBreath = std::chrono::milliseconds(30);
    constexpr std::size_t kBlock = 1u << 20;
    ImageSumResult result;
    if (!f || std::fseek(f, 0, SEEK_SET) != 0) return result;
    std::clearerr(f);
    std::vector<std::uint8_t> block(kBlock);
    yield.yield();
    auto lastBreath = Clock::now();
    for (;;) {
        std::size_t n = std::fread(block.data(), 1, kBlock, f);
        result.sum = sumBytes(block.data(), n, result.sum);
        result.bytes += n;
        if (n < kBlock) break;
        if (Clock::now() - lastBreath >= kBreath) {
            yield.yield();
            lastBreath = Clock::now();
        }
    }
    result.ok = !std::ferror(f);
    return result;
}

}  // namespace sonoprog::core
