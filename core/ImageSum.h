#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/YieldHook.h"

namespace sonoprog::core {

// The image check sum: every byte as 0..255 added into a wrapping 32-bit sum.
// Uses the widest kernel the processor has.
std::uint32_t sumBytes(const std::uint8_t* data, std::size_t length, std::uint32_t start = 0);

// The kernels behind sumBytes, each giving the same sum, for tests and figures.
enum class SumKernel { Bytes, Sse2, Avx2 };
bool sumKernelAvailable(SumKernel kernel);
std::uint32_t sumBytesWith(SumKernel kernel, const std::uint8_t* data, std::size_t length,
                           std::uint32_t start = 0);

struct ImageSumResult {
    bool ok = false;  // false when a read failed before the end of the file
    std::uint32_t sum = 0;
    std::uint64_t bytes = 0;  // bytes summed
};

// Sums the stream from its start to its end in large blocks, letting the
// window breathe at least every 30 ms (and at least once), so that a file of
// over a hundred megabytes keeps the window alive while it is summed. At most
// `limit` bytes are read: callers pass the measured size + 1, so that a file
// that grew is seen and a device that never ends (/dev/zero) cannot hold the
// window for ever.
ImageSumResult sumImageStream(std::FILE* f, YieldHook& yield, std::uint64_t limit = UINT64_MAX);

}  // namespace sonoprog::core
