// Make DAT File over a full table: 1,024 sections of 64 KiB of samples each
// (64 MiB), against cat of the same WAV files into one file.
#include <cstdio>
#include <fstream>

#include "bench/BenchSupport.h"
#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/YieldHook.h"
#include "editor/EditorOperations.h"
#include "editor/EditorPanel.h"
#include "editor/SectionTable.h"
#include "editor/WaveFile.h"

using namespace sonoprog;

namespace {

constexpr std::uint32_t kSectionBytes = 64u << 10;
constexpr std::uint32_t kRate = 8000;

using bench::put16;
using bench::put32;

// The 1,024 WAV files (8-bit mono PCM), made once.
const std::vector<std::string>& waves() {
    static const std::vector<std::string> paths = [] {
        const auto dir = bench::dataDir() / "waves";
        std::filesystem::create_directories(dir);
        std::vector<std::string> out;
        std::vector<char> samples(kSectionBytes);
        for (int n = 0; n < editor::kSectionCount; ++n) {
            const auto path = dir / ("section" + std::to_string(n) + ".wav");
            out.push_back(path.string());
            std::error_code ec;
            if (std::filesystem::file_size(path, ec) == kSectionBytes + editor::kWaveHeaderSize)
                continue;
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<char>(0x80 + ((i * (n + 3)) >> 6) % 64);
            std::ofstream wav(path, std::ios::binary | std::ios::trunc);
            wav.write("RIFF", 4);
            put32(wav, 36 + kSectionBytes);
            wav.write("WAVEfmt ", 8);
            put32(wav, 16);
            put16(wav, 1);  // PCM
            put16(wav, 1);  // mono
            put32(wav, kRate);
            put32(wav, kRate);  // bytes per second
            put16(wav, 1);      // block align
            put16(wav, 8);      // bits per sample
            wav.write("data", 4);
            put32(wav, kSectionBytes);
            wav.write(samples.data(), static_cast<std::streamsize>(samples.size()));
            if (!wav) bench::fatal("cannot write " + path.string());
        }
        for (const auto& p : out) bench::warmPageCache(p);
        return out;
    }();
    return paths;
}

std::filesystem::path outputDir() {
    const auto dir = bench::dataDir() / "editor";
    std::filesystem::create_directories(dir);
    return dir;
}

bench::Timed makeDat() {
    const auto& files = waves();
    const auto paths = core::AppPaths::forFolder(outputDir());
    paths.ensureTemp();
    const auto target = outputDir() / "sound.bin";
    std::filesystem::remove(target);
    editor::SectionTable table;
    table.prepare();
    for (int n = 0; n < editor::kSectionCount; ++n) {
        const int row = n + editor::kFirstSectionRow;
        table.setCell(row, editor::kColRate, std::to_string(kRate));
        table.setCell(row, editor::kColSize, std::to_string(kSectionBytes));
        table.setCell(row, editor::kColFile, files[static_cast<std::size_t>(n)]);
    }
    editor::PanelState panel;
    bench::CountingPrompter prompter;
    bench::FixedChooser chooser;
    chooser.save = target.string();
    core::NoYield yield;
    core::SystemClock clock;
    editor::EditorOperations ops(table, panel, prompter, chooser, yield, clock, paths);
    ops.RefreshSummary();
    const bench::Stopwatch watch;
    const editor::BuildResult result = ops.makeDatFile();
    const bench::Timed elapsed = watch.stop();
    const std::uint64_t expected =
        17 * editor::kPageSize + std::uint64_t{editor::kSectionCount} * kSectionBytes;
    if (result != editor::BuildResult::Done || std::filesystem::file_size(target) != expected)
        bench::fatal("Make DAT File failed: " + prompter.last);
    return elapsed;
}

bench::Timed catWaves() {
    std::vector<std::string> argv{"cat"};
    const auto& files = waves();
    argv.insert(argv.end(), files.begin(), files.end());
    const bench::Timed elapsed = bench::runProgram(argv, outputDir() / "cat.bin");
    if (elapsed.seconds < 0) bench::fatal("cat of the WAV files failed");
    return elapsed;
}

}  // namespace

SONOPROG_SCENARIO("editor/make-dat", makeDat);
SONOPROG_SCENARIO("editor/cat-wav", catWaves);
