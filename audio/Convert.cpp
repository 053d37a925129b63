#include "audio/Convert.h"

#include <soxr.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "audio/AudioSource.h"
#include "audio/Quantiser.h"
#include "core/AtomicFile.h"
#include "core/TempFiles.h"

namespace sonoprog::audio {

namespace {

constexpr std::size_t kBlockFrames = 16384;
// Samples of one read from the source, all channels together.
constexpr std::size_t kReadSamples = 1u << 20;
// Samples the resampler makes per call at most.
constexpr std::size_t kOutBlock = 1u << 16;
constexpr std::uint64_t kWaveHeaderBytes = 44;
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<std::uint32_t>::max() - 64;

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct SoxrDeleter {
    void operator()(soxr* s) const { soxr_delete(s); }
};

// The resampled signal on its way to the second pass: in the given file, or
// in an anonymous one of the system's temporary folder.
class FloatStore {
public:
    explicit FloatStore(std::FILE* file) : borrowed_(file) {
        if (!borrowed_) file_.reset(std::tmpfile());
    }
    bool ok() const { return file() != nullptr && !failed_; }
    void append(const float* data, std::size_t n) {
        if (n && std::fwrite(data, sizeof(float), n, file()) != n) failed_ = true;
        count_ += n;
    }
    std::uint64_t count() const { return count_; }
    void rewind() {
        if (std::fflush(file()) != 0) failed_ = true;
        std::rewind(file());
    }
    std::size_t read(std::vector<float>& out) {
        out.resize(kBlockFrames);
        std::size_t n = std::fread(out.data(), sizeof(float), out.size(), file());
        out.resize(n);
        return n;
    }

private:
    std::FILE* file() const { return borrowed_ ? borrowed_ : file_.get(); }
    std::FILE* borrowed_ = nullptr;
    File file_;
    std::uint64_t count_ = 0;
    bool failed_ = false;
};

std::string secondsText(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", seconds);
    return buf;
}

std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

// Whether the two folders have room for what the two passes write; on one
// file system the two needs add up.
bool enoughDisk(const std::filesystem::path& scratch, std::uint64_t scratchBytes,
                const std::filesystem::path& target, std::uint64_t targetBytes, std::string& why) {
    std::error_code ec;
    struct stat a {
    }, b{};
    const bool same =
        ::stat(scratch.c_str(), &a) == 0 && ::stat(target.c_str(), &b) == 0 && a.st_dev == b.st_dev;
    auto check = [&](const std::filesystem::path& folder, std::uint64_t need) {
        const auto space = std::filesystem::space(folder, ec);
        // A folder that cannot be measured is left to the writes to report.
        if (ec || space.available >= need) return true;
        why = "Not enough free disk space in " + folder.string() + ": the import needs " +
              megabytes(need) + ", " + megabytes(space.available) + " are free.";
        return false;
    };
    if (same) return check(target, scratchBytes + targetBytes);
    return check(scratch, scratchBytes) && check(target, targetBytes);
}

ConvertResult failure(ConvertResult r, std::string reason) {
    r.ok = false;
    r.error = std::move(reason);
    return r;
}

}  // namespace

std::array<std::uint8_t, 44> waveHeader(std::uint32_t rate, std::uint32_t dataSize) {
    std::array<std::uint8_t, 44> h{};
    std::memcpy(h.data(), "RIFF", 4);
    // An odd data chunk is followed by a pad byte, which the RIFF length counts.
    put32(h.data() + 4, 36 + dataSize + (dataSize & 1));
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    put32(h.data() + 16, 16);
    put16(h.data() + 20, 1);  // PCM
    put16(h.data() + 22, 1);  // mono
    put32(h.data() + 24, rate);
    put32(h.data() + 28, rate);  // bytes per second: one byte per sample
    put16(h.data() + 32, 1);
    put16(h.data() + 34, 8);
    std::memcpy(h.data() + 36, "data", 4);
    put32(h.data() + 40, dataSize);
    return h;
}

ConvertResult convertToWave(const std::filesystem::path& source,
                            const std::filesystem::path& target, const ConvertOptions& options) {
    ConvertResult result;
    if (options.rate == 0) return failure(result, "No sample rate was chosen.");
    AudioSource in;
    auto withWarnings = [&in](ConvertResult r) {
        r.warnings = in.messages().lines();
        if (in.messages().dropped() > 0)
            r.warnings.push_back("... and " + std::to_string(in.messages().dropped()) +
                                 " more messages of the decoder");
        return r;
    };
    if (!in.open(source, options.mixChannels)) return withWarnings(failure(result, in.error()));
    result.sourceRate = in.rate();
    result.sourceChannels = in.channels();

    const double ratio = static_cast<double>(options.rate) / in.rate();
    auto tooLong = [&](double seconds) {
        return withWarnings(
            failure(result, "The sound lasts " + secondsText(seconds) + " s at " +
                                std::to_string(options.rate) +
                                " Hz: " + std::to_string(options.maxBytes / options.rate) +
                                " s fit the largest chip this installation programs (" +
                                std::to_string(options.maxBytes) + " bytes of sound)."));
    };
    std::filesystem::path targetFolder = target.parent_path();
    if (targetFolder.empty()) targetFolder = ".";
    std::error_code ec;
    const std::filesystem::path scratchFolder =
        options.scratchDir.empty() ? std::filesystem::temp_directory_path(ec) : options.scratchDir;
    if (in.frames() >= 0) {
        // What the source declares, checked before anything is decoded or
        // written: a trimmed sound may still end up shorter, an untrimmed one not.
        const auto expected = static_cast<std::uint64_t>(std::ceil(in.frames() * ratio)) + 64;
        if (!options.trimDb && options.maxBytes && expected - 64 > options.maxBytes)
            return tooLong(static_cast<double>(in.frames()) / in.rate());
        std::string why;
        if (!enoughDisk(scratchFolder, expected * sizeof(float), targetFolder,
                        expected + kWaveHeaderBytes, why))
            return withWarnings(failure(result, why));
    }

    soxr_error_t err = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    std::unique_ptr<soxr, SoxrDeleter> resampler(
        soxr_create(in.rate(), options.rate, 1, &err, &io, &quality, &runtime));
    if (!resampler || err)
        return withWarnings(failure(result, std::string("Resampling: ") + (err ? err : "")));

    std::optional<core::PrivateTempFile> scratch =
        options.scratchDir.empty()
            ? std::nullopt
            : core::PrivateTempFile::create(options.scratchDir, "import-", ".f32");
    if (!options.scratchDir.empty() && !scratch)
        return withWarnings(failure(result, "Failed to create a temporary file."));
    FloatStore store(scratch ? scratch->file() : nullptr);
    if (!store.ok()) return withWarnings(failure(result, "Failed to create a temporary file."));

    // Fixed blocks whatever the rates: a source read in blocks of at most a
    // million samples (all channels together), fed to the resampler in slices
    // that make at most one output block each.
    const std::size_t readFrames = std::max<std::size_t>(
        1, std::min<std::size_t>(kBlockFrames,
                                 kReadSamples / static_cast<std::size_t>(in.channels())));
    const std::size_t sliceFrames = std::max<std::size_t>(
        1, std::min<std::size_t>(readFrames, static_cast<std::size_t>(kOutBlock / ratio)));
    std::vector<float> block;
    std::vector<float> resampled(kOutBlock);
    float peak = 0;
    bool overLimit = false;
    auto keep = [&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) peak = std::max(peak, std::fabs(resampled[i]));
        store.append(resampled.data(), n);
        // Untrimmed, nothing past the limit can be kept: the pass ends there.
        if (!options.trimDb && options.maxBytes && store.count() > options.maxBytes)
            overLimit = true;
    };

    // First pass: decode, resample, measure.
    while (!overLimit && store.ok()) {
        const std::size_t n = in.read(block, readFrames);
        if (n == 0) break;
        std::size_t offset = 0;
        while (offset < n && !overLimit) {
            const std::size_t slice = std::min(sliceFrames, n - offset);
            std::size_t used = 0, made = 0;
            err = soxr_process(resampler.get(), block.data() + offset, slice, &used,
                               resampled.data(), resampled.size(), &made);
            if (err) return withWarnings(failure(result, std::string("Resampling: ") + err));
            if (used == 0 && made == 0)
                return withWarnings(failure(result, "Resampling: no progress"));
            keep(made);
            offset += used;
        }
        if (options.progress) options.progress();
    }
    if (!in.error().empty()) return withWarnings(failure(result, in.error()));
    for (;;) {  // the resampler's tail
        if (overLimit) break;
        std::size_t made = 0;
        err = soxr_process(resampler.get(), nullptr, 0, nullptr, resampled.data(), resampled.size(),
                           &made);
        if (err) return withWarnings(failure(result, std::string("Resampling: ") + err));
        if (made == 0) break;
        keep(made);
    }
    if (overLimit) {
        // The rest of the source is not decoded; its declared length says how long it is.
        const double declared = in.frames() >= 0 ? static_cast<double>(in.frames()) / in.rate() : 0;
        return tooLong(std::max(declared, static_cast<double>(store.count()) / options.rate));
    }
    if (!store.ok()) return withWarnings(failure(result, "Failed to write a temporary file."));
    result.peak = peak;

    const float gain = (options.normalize && peak > 0)
                           ? static_cast<float>(std::pow(10.0, kNormalizePeakDb / 20.0) / peak)
                           : 1.0f;

    // The kept span: everything, or from the first to the last sample that
    // reaches the threshold (nothing when no sample does).
    std::uint64_t first = 0, end = store.count();
    if (options.trimDb) {
        const float threshold = static_cast<float>(std::pow(10.0, *options.trimDb / 20.0)) / gain;
        std::uint64_t index = 0;
        bool found = false;
        first = end = 0;
        store.rewind();
        while (store.read(block) > 0) {
            for (float s : block) {
                if (std::fabs(s) >= threshold) {
                    if (!found) first = index;
                    found = true;
                    end = index + 1;
                }
                ++index;
            }
        }
    }
    const std::uint64_t count = end - first;
    if (options.maxBytes && count > options.maxBytes)
        return tooLong(static_cast<double>(count) / options.rate);
    if (count > kMaxDataBytes)
        return withWarnings(failure(result, "The sound is too long for one section."));

    // Second pass: gain, trim, dither, quantise, write.
    core::AtomicFile out(target);
    if (!out.open())
        return withWarnings(failure(result, "Failed to create file: " + target.string()));
    const auto dataSize = static_cast<std::uint32_t>(count);
    auto header = waveHeader(options.rate, dataSize);
    bool written = out.write(header.data(), header.size());
    Quantiser quantiser;
    std::vector<std::uint8_t> bytes;
    std::uint64_t index = 0;
    store.rewind();
    while (written && store.read(block) > 0) {
        bytes.clear();
        for (float s : block) {
            if (index >= first && index < end) bytes.push_back(quantiser.next(s * gain));
            ++index;
        }
        if (!bytes.empty() && !out.write(bytes.data(), bytes.size())) written = false;
        if (options.progress) options.progress();
    }
    if (written && (dataSize & 1)) {
        const std::uint8_t pad = 0;
        written = out.write(&pad, 1);
    }
    if (!written || !out.commit()) {
        out.discard();
        return withWarnings(failure(result, "Failed to write file: " + target.string()));
    }
    result.samples = dataSize;
    result.ok = true;
    return withWarnings(result);
}

}  // namespace sonoprog::audio
