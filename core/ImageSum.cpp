#include "core/ImageSum.h"
#include "core/ImageReader.h"
#include "core/YieldHook.h"

#include <algorithm>
#include <chrono>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

namespace sonoprog::core {

namespace {

// Each kernel adds whole runs of bytes into `total` and leaves the tail it did
// not take in `data` / `length`. The sum is kept in 64 bits and cut to 32 at
// the end: wrapping once at the end gives the same digits as wrapping after
// every byte.

#if defined(__SSE2__)
// psadbw against zero adds each run of 8 bytes into a 64-bit lane, one
// instruction per 16 bytes, so the sum keeps up with the memory's bandwidth
// (the widening byte loop the compiler makes of the plain sum runs at half).
void addSse2(const std::uint8_t*& data, std::size_t& length, std::uint64_t& total) {
    const __m128i zero = _mm_setzero_si128();
    __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
    for (; length >= 64; data += 64, length -= 64) {
        const auto* v = reinterpret_cast<const __m128i*>(data);
        acc0 = _mm_add_epi64(acc0, _mm_sad_epu8(_mm_loadu_si128(v), zero));
        acc1 = _mm_add_epi64(acc1, _mm_sad_epu8(_mm_loadu_si128(v + 1), zero));
        acc2 = _mm_add_epi64(acc2, _mm_sad_epu8(_mm_loadu_si128(v + 2), zero));
        acc3 = _mm_add_epi64(acc3, _mm_sad_epu8(_mm_loadu_si128(v + 3), zero));
    }
    const __m128i acc = _mm_add_epi64(_mm_add_epi64(acc0, acc1), _mm_add_epi64(acc2, acc3));
    total += static_cast<std::uint64_t>(_mm_cvtsi128_si64(acc)) +
             static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
// The same on 32 bytes per instruction, where the processor has AVX2: a block
// that the kernel has just copied into the cache is summed in half the time.
__attribute__((target("avx2"))) void addAvx2(const std::uint8_t*& data, std::size_t& length,
                                             std::uint64_t& total) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
    for (; length >= 128; data += 128, length -= 128) {
        const auto* v = reinterpret_cast<const __m256i*>(data);
        acc0 = _mm256_add_epi64(acc0, _mm256_sad_epu8(_mm256_loadu_si256(v), zero));
        acc1 = _mm256_add_epi64(acc1, _mm256_sad_epu8(_mm256_loadu_si256(v + 1), zero));
        acc2 = _mm256_add_epi64(acc2, _mm256_sad_epu8(_mm256_loadu_si256(v + 2), zero));
        acc3 = _mm256_add_epi64(acc3, _mm256_sad_epu8(_mm256_loadu_si256(v + 3), zero));
    }
    const __m256i acc =
        _mm256_add_epi64(_mm256_add_epi64(acc0, acc1), _mm256_add_epi64(acc2, acc3));
    const __m128i half =
        _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    total += static_cast<std::uint64_t>(_mm_cvtsi128_si64(half)) +
             static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(half, half)));
}
#endif

}  // namespace

bool sumKernelAvailable(SumKernel kernel) {
    switch (kernel) {
        case SumKernel::Bytes:
            return true;
        case SumKernel::Sse2:
#if defined(__SSE2__)
            return true;
#else
            return false;
#endif
        case SumKernel::Avx2:
#if defined(__x86_64__) && defined(__GNUC__)
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
    }
    return false;
}

std::uint32_t sumBytesWith(SumKernel kernel, const std::uint8_t* data, std::size_t length,
                           std::uint32_t start) {
    std::uint64_t total = start;
#if defined(__x86_64__) && defined(__GNUC__)
    if (kernel == SumKernel::Avx2) addAvx2(data, length, total);
#endif
#if defined(__SSE2__)
    if (kernel != SumKernel::Bytes) addSse2(data, length, total);
#endif
    for (std::size_t i = 0; i < length; ++i) total += data[i];
    return static_cast<std::uint32_t>(total);
}

std::uint32_t sumBytes(const std::uint8_t* data, std::size_t length, std::uint32_t start) {
    static const SumKernel best = sumKernelAvailable(SumKernel::Avx2)   ? SumKernel::Avx2
                                  : sumKernelAvailable(SumKernel::Sse2) ? SumKernel::Sse2
                                                                        : SumKernel::Bytes;
    return sumBytesWith(best, data, length, start);
}

ImageSumResult sumImageStream(std::FILE* f, YieldHook& yield, std::uint64_t limit) {
    using Clock = std::chrono::steady_clock;
    // The check comes after a block, so the pause is the breath plus one
    // block's read: both kept short enough to stay under 30 ms.
    constexpr auto kBreath = std::chrono::milliseconds(20);
    // As large as cat's buffer: half the reads of a 64 KiB block, and still
    // small enough to stay in the cache between its read and its sum.
    constexpr std::size_t kBlock = 128u << 10;
    ImageSumResult result;
    // A stream that cannot go back to its start (a pipe) has no sum of its own.
    if (!f || std::fseek(f, 0, SEEK_SET) != 0) return result;
    ImageReader reader(f, kBlock);
    yield.yield();
    auto lastBreath = Clock::now();
    while (result.bytes < limit) {
        const auto piece = reader.nextSome(
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, limit - result.bytes)));
        if (piece.empty()) break;
        result.sum = sumBytes(piece.data(), piece.size(), result.sum);
        result.bytes += piece.size();
        if (Clock::now() - lastBreath >= kBreath) {
            yield.yield();
            lastBreath = Clock::now();
        }
    }
    result.ok = !reader.failed();
    return result;
}

}  // namespace sonoprog::core
