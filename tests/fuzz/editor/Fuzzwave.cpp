// Any bytes as a WAV file: the header check must agree with itself on disk and
// in memory, never admit a file with a rate or size it does not hold, and the
// build's copy must give exactly the pages the header declares.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "editor/WaveFile.h"

using namespace sonoprog::editor;

namespace {

const std::string& scratchPath() {
    static const std::string path = "/tmp/sonoprog-fuzz-wave-" + std::to_string(::getpid());
    return path;
}

void check(bool ok) {
    if (!ok) std::abort();
}

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

void copyAndCompare(const std::uint8_t* data, std::size_t size, const WaveHeaderCheck& header) {
    std::FILE* pageFile = std::tmpfile();
    check(pageFile != nullptr);
    PageFileWriter pages(pageFile, 17);
    int code = AppendWaveSection(pages, scratchPath(), header.rate, header.size);
    std::fflush(pageFile);
    long written = (std::fseek(pageFile, 0, SEEK_END), std::ftell(pageFile));
    if (code != kWaveOk) {
        // The header passed, so only the build's own range test may refuse it.
        check(code == kWaveRateOutOfRange && !rateInRange(header.rate));
        check(written == 0 && pages.pageCount() == 17);
        std::fclose(pageFile);
        return;
    }
    const std::size_t pageCount = (std::size_t{header.size} + kPageSize - 1) / kPageSize;
    check(pages.pageCount() == 17 + pageCount);
    check(static_cast<std::size_t>(written) == pageCount * kPageSize);
    std::vector<std::uint8_t> out(pageCount * kPageSize);
    std::rewind(pageFile);
    check(std::fread(out.data(), 1, out.size(), pageFile) == out.size());
    const std::size_t available = size - kWaveHeaderSize;
    for (std::size_t i = 0; i < out.size(); ++i) {
        bool fromFile = i < header.size && i < available;
        check(out[i] == (fromFile ? data[kWaveHeaderSize + i] : kPadSample));
    }
    std::fclose(pageFile);
    // A table that recorded other values gets the mismatch codes, and nothing.
    std::FILE* none = std::tmpfile();
    PageFileWriter other(none, 17);
    check(AppendWaveSection(other, scratchPath(), header.rate + 1, header.size) ==
          kWaveRateDiffers);
    check(AppendWaveSection(other, scratchPath(), header.rate, header.size + 1) ==
          kWaveSizeDiffers);
    check(other.pageCount() == 17);
    std::fclose(none);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(scratchPath().c_str(), "wb");
    check(f != nullptr);
    check(size == 0 || std::fwrite(data, 1, size, f) == size);
    std::fclose(f);

    WaveHeaderCheck onDisk = CheckWaveHeader(scratchPath());
    WaveHeaderCheck inMemory = checkHeaderBytes(data, size);
    check(onDisk.code == inMemory.code);
    check(onDisk.code >= 0 && onDisk.code <= kWaveNoData && onDisk.code != kWaveOpenFailed);
    if (onDisk.code != kWaveOk) return 0;
    check(size >= kWaveHeaderSize);
    check(onDisk.rate == le32(data + 24) && onDisk.size == le32(data + 40));
    check(onDisk.rate == inMemory.rate && onDisk.size == inMemory.size);
    check(std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 36, "data", 4) == 0);
    // Sizes far beyond the data are legal but only write 0x80 pages; keep runs short.
    if (onDisk.size <= (1u << 20)) copyAndCompare(data, size, onDisk);
    return 0;
}
