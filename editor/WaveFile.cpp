#include "editor/WaveFile.h"

#include <chrono>
#include <cstring>

#include "core/FileHandle.h"
#include "core/YieldHook.h"

namespace sonoprog::editor {

namespace {

// An image is programmed into a Tarn20, whose user area holds 124,032 pages,
// or into a serial flash of at most 16 MiB; the Tarn20 is the smaller. (The
// entries' 24-bit page numbers would allow far more than either holds.)
constexpr std::uint32_t kImagePageLimit = tarn::kUserPages;
constexpr std::size_t kBlockPages = 256;

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}
std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

struct Expected {
    std::uint32_t rate;
    std::uint32_t size;
};

// The fixed-offset tests in their order; with expected values the rate is
// compared after the channel count and the size after "data".
WaveHeaderCheck runTests(const std::uint8_t* b, std::size_t n, const Expected* expected) {
    WaveHeaderCheck r;
    auto has = [n](std::size_t at, std::size_t len) { return n >= at + len; };
    auto tag = [&](std::size_t at, const char* text) {
        return has(at, 4) && std::memcmp(b + at, text, 4) == 0;
    };
    if (!tag(0, "RIFF")) return r.code = kWaveNoRiff, r;
    if (!tag(8, "WAVE")) return r.code = kWaveNoWave, r;
    if (!tag(12, "fmt ")) return r.code = kWaveNoFmt, r;
    if (!has(16, 4) || le32(b + 16) != 16) return r.code = kWaveFmtLength, r;
    if (!has(20, 2) || le16(b + 20) != 1) return r.code = kWaveNotPcm, r;
    if (!has(22, 2) || le16(b + 22) != 1) return r.code = kWaveNotMono, r;
    if (has(24, 4)) r.rate = le32(b + 24);
    if (expected && (!has(24, 4) || r.rate != expected->rate)) return r.code = kWaveRateDiffers, r;
    if (!has(34, 2) || le16(b + 34) != 8) return r.code = kWaveNot8Bit, r;
    if (!tag(36, "data") || !has(40, 4)) return r.code = kWaveNoData, r;
    r.size = le32(b + 40);
    if (expected && r.size != expected->size) return r.code = kWaveSizeDiffers, r;
    r.code = kWaveOk;
    return r;
}

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::size_t readHeader(std::FILE* f, std::uint8_t (&header)[kWaveHeaderSize]) {
    return std::fread(header, 1, kWaveHeaderSize, f);
}

}  // namespace

WaveHeaderCheck checkHeaderBytes(const std::uint8_t* bytes, std::size_t n) {
    return runTests(bytes, n, nullptr);
}

WaveHeaderCheck CheckWaveHeader(const std::filesystem::path& path) {
    core::FilePtr f = core::openForReading(path);
    if (!f) return {};
    std::uint8_t header[kWaveHeaderSize] = {};
    std::size_t n = readHeader(f.get(), header);
    return runTests(header, n, nullptr);
}

std::uint32_t samplePeriod(std::uint32_t rate) {
    if (rate == 0) return 0;
    return static_cast<std::uint32_t>(1000000.0 / static_cast<double>(rate) + 0.5);
}

bool rateInRange(std::uint32_t rate) {
    std::uint32_t period = samplePeriod(rate);
    return period >= 1 && period <= 0xFF;
}

int checkSectionHeader(const std::uint8_t* bytes, std::size_t n, std::uint32_t expectedRate,
                       std::uint32_t expectedSize, std::uint32_t pageCount) {
    Expected expected{expectedRate, expectedSize};
    WaveHeaderCheck r = runTests(bytes, n, &expected);
    if (r.code != kWaveOk) return r.code;
    if (!rateInRange(r.rate)) return kWaveRateOutOfRange;
    std::uint64_t pages = (std::uint64_t{r.size} + kPageSize - 1) / kPageSize;
    if (std::uint64_t{pageCount} + pages > kImagePageLimit) return kWaveTooLarge;
    return kWaveOk;
}

YieldPacer::YieldPacer(core::YieldHook& yield) : yield_(yield), last_(nowMs()) {}

void YieldPacer::tick() {
    constexpr std::int64_t kBreathMs = 25;
    if (nowMs() - last_ >= kBreathMs) breathe();
}

void YieldPacer::breathe() {
    yield_.yield();
    last_ = nowMs();
}

PageFileWriter::PageFileWriter(std::FILE* file, std::uint32_t firstPage, YieldPacer* pacer)
    : file_(file), pageCount_(firstPage), pacer_(pacer), block_(kBlockPages * kPageSize) {}

int PageFileWriter::copySection(std::FILE* wave, std::uint32_t size) {
    if (fseeko(wave, static_cast<off_t>(kWaveHeaderSize), SEEK_SET) != 0) return kWaveOpenFailed;
    std::uint64_t remaining = size;
    bool atEnd = false;
    while (remaining > 0) {
        std::uint64_t want = remaining < block_.size() ? remaining : block_.size();
        std::size_t got = 0;
        if (!atEnd) {
            got = std::fread(block_.data(), 1, static_cast<std::size_t>(want), wave);
            if (got < want) {
                if (std::ferror(wave)) return kWaveOpenFailed;
                atEnd = true;
            }
        }
        std::size_t pages = static_cast<std::size_t>((want + kPageSize - 1) / kPageSize);
        std::size_t bytes = pages * kPageSize;
        std::memset(block_.data() + got, kPadSample, bytes - got);
        if (std::fwrite(block_.data(), 1, bytes, file_) != bytes) return kWavePageFileFailed;
        pageCount_ += static_cast<std::uint32_t>(pages);
        remaining -= want;
        if (pacer_) pacer_->tick();
    }
    return kWaveOk;
}

int AppendWaveSection(PageFileWriter& pages, const std::filesystem::path& path,
                      std::uint32_t expectedRate, std::uint32_t expectedSize) {
    core::FilePtr f = core::openForReading(path);
    if (!f) return kWaveOpenFailed;
    std::uint8_t header[kWaveHeaderSize] = {};
    std::size_t n = readHeader(f.get(), header);
    int code = checkSectionHeader(header, n, expectedRate, expectedSize, pages.pageCount());
    if (code != kWaveOk) return code;
    return pages.copySection(f.get(), expectedSize);
}

int CheckSectionFile(const std::filesystem::path& path, std::uint32_t expectedRate,
                     std::uint32_t expectedSize, std::uint32_t pageCount) {
    core::FilePtr f = core::openForReading(path);
    if (!f) return kWaveOpenFailed;
    std::uint8_t header[kWaveHeaderSize] = {};
    std::size_t n = readHeader(f.get(), header);
    return checkSectionHeader(header, n, expectedRate, expectedSize, pageCount);
}

}  // namespace sonoprog::editor
