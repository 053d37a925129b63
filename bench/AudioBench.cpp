// Import Audio: a 44.1 kHz 16-bit stereo WAV converted to 8-bit mono at
// 8,000 Hz, for one minute and for ten minutes of sound. The minute must run
// at least 200 times faster than it plays; the ten minutes must not need
// more memory than the minute (the conversion streams in blocks).
#include <cmath>
#include <fstream>
#include <numbers>

#include "audio/Convert.h"
#include "bench/BenchSupport.h"

using namespace sonoprog;

namespace {

constexpr int kSourceRate = 44100;

using bench::put16;
using bench::put32;

// A tone sweeping 200 Hz to 6 kHz and back, made once and kept in the page cache.
std::filesystem::path source(int seconds) {
    const auto path = bench::dataDir() / ("import-" + std::to_string(seconds) + "s.wav");
    const std::uint64_t frames = std::uint64_t{kSourceRate} * seconds;
    const std::uint64_t bytes = frames * 4;
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) != 44 + bytes) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream wav(path, std::ios::binary | std::ios::trunc);
        wav.write("RIFF", 4);
        put32(wav, static_cast<std::uint32_t>(36 + bytes));
        wav.write("WAVEfmt ", 8);
        put32(wav, 16);
        put16(wav, 1);
        put16(wav, 2);
        put32(wav, kSourceRate);
        put32(wav, kSourceRate * 4);
        put16(wav, 4);
        put16(wav, 16);
        wav.write("data", 4);
        put32(wav, static_cast<std::uint32_t>(bytes));
        std::vector<std::int16_t> block;
        double phase = 0;
        for (std::uint64_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i % (kSourceRate * 10)) / (kSourceRate * 10);
            const double hz = 200 + 5800 * (t < 0.5 ? 2 * t : 2 - 2 * t);
            phase += 2 * std::numbers::pi * hz / kSourceRate;
            const auto s = static_cast<std::int16_t>(20000 * std::sin(phase));
            block.push_back(s);
            block.push_back(static_cast<std::int16_t>(-s / 2));
            if (block.size() >= 65536 || i + 1 == frames) {
                wav.write(reinterpret_cast<const char*>(block.data()),
                          static_cast<std::streamsize>(block.size() * 2));
                block.clear();
            }
        }
        if (!wav) bench::fatal("cannot write " + path.string());
    }
    bench::warmPageCache(path);
    return path;
}

bench::Timed import(int seconds) {
    const auto from = source(seconds);
    const auto to = bench::dataDir() / ("import-" + std::to_string(seconds) + "s-8bit.wav");
    audio::ConvertOptions options;
    options.rate = 8000;
    options.mixChannels = true;
    const bench::Stopwatch watch;
    const audio::ConvertResult r = audio::convertToWave(from, to, options);
    const bench::Timed elapsed = watch.stop();
    if (!r.ok) bench::fatal("import failed: " + r.error);
    if (std::llabs(static_cast<long long>(r.samples) - 8000LL * seconds) > 1)
        bench::fatal("import gave " + std::to_string(r.samples) + " samples");
    return elapsed;
}

}  // namespace

SONOPROG_SCENARIO("audio/import-60s", [] { return import(60); });
SONOPROG_SCENARIO("audio/import-600s", [] { return import(600); });

namespace {

// A source that declares 1 Hz: every sample becomes 22,050 at 22,050 Hz. The
// blocks through the resampler keep their size whatever the ratio, so the
// peak stays that of an ordinary import.
bench::Timed importSlowSource() {
    const auto from = bench::dataDir() / "import-1hz.wav";
    constexpr std::uint32_t kSamples = 64;
    {
        std::filesystem::create_directories(from.parent_path());
        std::ofstream wav(from, std::ios::binary | std::ios::trunc);
        wav.write("RIFF", 4);
        put32(wav, 36 + kSamples);
        wav.write("WAVEfmt ", 8);
        put32(wav, 16);
        put16(wav, 1);
        put16(wav, 1);
        put32(wav, 1);
        put32(wav, 1);
        put16(wav, 1);
        put16(wav, 8);
        wav.write("data", 4);
        put32(wav, kSamples);
        for (std::uint32_t i = 0; i < kSamples; ++i) wav.put(static_cast<char>(i * 4));
        if (!wav) bench::fatal("cannot write " + from.string());
    }
    const auto to = bench::dataDir() / "import-1hz-22050.wav";
    audio::ConvertOptions options;
    options.rate = 22050;
    const bench::Stopwatch watch;
    const audio::ConvertResult r = audio::convertToWave(from, to, options);
    const bench::Timed elapsed = watch.stop();
    if (!r.ok) bench::fatal("import failed: " + r.error);
    return elapsed;
}

}  // namespace

SONOPROG_SCENARIO("audio/import-1hz", importSlowSource);
