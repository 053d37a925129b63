// The in-memory check sum kernel against the memory's read bandwidth.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/ImageSum.h"

namespace {

// Larger than any cache, so both kernels run at the memory's speed.
constexpr std::size_t kBufferSize = std::size_t{64} << 20;

// Random bytes in which 0xFF never occurs, so that memchr reads it all.
const std::vector<std::uint8_t>& buffer() {
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> v(kBufferSize);
        std::mt19937 random(7);
        for (auto& b : v) b = static_cast<std::uint8_t>(random() % 255);
        return v;
    }();
    return data;
}

void sumKernel(benchmark::State& state) {
    const auto& data = buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(sonoprog::core::sumBytes(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void memchrBandwidth(benchmark::State& state) {
    const auto& data = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(std::memchr(data.data(), 0xFF, data.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

}  // namespace

BENCHMARK(sumKernel)->Name("sum/kernel")->Unit(benchmark::kMillisecond)->MinTime(0.2);
BENCHMARK(memchrBandwidth)->Name("sum/memchr")->Unit(benchmark::kMillisecond)->MinTime(0.2);
