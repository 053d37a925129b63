#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/OperationPane.h"
#include "core/YieldHook.h"
#include "tarn/TarnProtocol.h"

namespace sonoprog::editor {

// Result codes of the WAV header tests and of the build's copy step.
enum WaveCode : int {
    kWaveOk = 0,
    kWaveOpenFailed = 1,
    kWaveNoRiff = 2,
    kWaveNoWave = 3,
    kWaveNoFmt = 4,
    kWaveFmtLength = 5,
    kWaveNotPcm = 6,
    kWaveNotMono = 7,
    kWaveNot8Bit = 8,
    kWaveNoData = 9,
    kWaveRateDiffers = 16,
    kWaveSizeDiffers = 17,
    // The build's own refusals: a rate whose sample period does not fit the
    // entry's byte (0 and below 3,914 Hz, or so high that the period is 0),
    // and a section whose pages would take the image past the 124,032 pages
    // of a Tarn20's user area.
    kWaveRateOutOfRange = 18,
    kWaveTooLarge = 19,
    // Writing the page file failed (a full disk).
    kWavePageFileFailed = 20,
};

// Images are laid out in the Tarn20's pages.
using tarn::kPageSize;
inline constexpr std::size_t kWaveHeaderSize = 44;
inline constexpr std::uint8_t kPadSample = 0x80;

struct WaveHeaderCheck {
    int code = kWaveOpenFailed;
    std::uint32_t rate = 0;
    std::uint32_t size = 0;
};

// The canonical 44-byte PCM header tested at fixed offsets; chunks are not
// walked. A file too short for a test fails that test; a file that lacks the
// data size bytes fails the "data" test, so no file is admitted with a rate or
// size it does not hold.
WaveHeaderCheck CheckWaveHeader(const std::filesystem::path& path);

// The same tests on header bytes in memory (n may be below 44).
WaveHeaderCheck checkHeaderBytes(const std::uint8_t* bytes, std::size_t n);

// The sample period byte's value: 1,000,000 / rate + 0.5, truncated; 0 for a
// rate of 0. Only values 1 to 255 fit the section entry.
std::uint32_t samplePeriod(std::uint32_t rate);
bool rateInRange(std::uint32_t rate);

// Paces the window's breaths in long copies: at most one yield every few
// milliseconds, so that moving a page costs no message loop turn.
class YieldPacer {
public:
    explicit YieldPacer(core::YieldHook& yield);
    // Yields when the last breath is long enough ago.
    void tick();
    // Yields now.
    void breathe();

private:
    core::YieldHook& yield_;
    std::int64_t last_ = 0;
};

// The build's page file: whole 1,024-byte pages, written in large blocks.
class PageFileWriter {
public:
    PageFileWriter(std::FILE* file, std::uint32_t firstPage, YieldPacer* pacer = nullptr);
    std::FILE* file() const { return file_; }
    std::uint32_t pageCount() const { return pageCount_; }

    // The copy of one section after its tests passed: data bytes from offset
    // 44, the last page filled up with 0x80; what cannot be read stays 0x80.
    int copySection(std::FILE* wave, std::uint32_t size);

private:
    std::FILE* file_;
    std::uint32_t pageCount_;
    YieldPacer* pacer_;
    std::vector<std::uint8_t> block_;
};

// Opens the WAV file, runs the header tests with the rate and size compared
// against what the table recorded, and only then appends the section's pages
// and advances the page count. A failing section adds nothing.
int AppendWaveSection(PageFileWriter& pages, const std::filesystem::path& path,
                      std::uint32_t expectedRate, std::uint32_t expectedSize);

// The tests of AppendWaveSection without the copy: what the next build would
// say of this section (kWaveOk when it would pass), for a section whose pages
// would start at pageCount.
int CheckSectionFile(const std::filesystem::path& path, std::uint32_t expectedRate,
                     std::uint32_t expectedSize, std::uint32_t pageCount);

// The tests of AppendWaveSection on header bytes in memory.
int checkSectionHeader(const std::uint8_t* bytes, std::size_t n, std::uint32_t expectedRate,
                       std::uint32_t expectedSize, std::uint32_t pageCount);

}  // namespace sonoprog::editor
