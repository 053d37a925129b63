#include "audio/Convert.h"

#include <soxr.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>
#include <vector>

#include "audio/AudioSource.h"
#include "audio/Quantiser.h"

namespace sonoprog::audio {

namespace {

constexpr std::size_t kBlockFrames = 16384;
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

// The resampled signal on its way to the second pass.
class FloatStore {
public:
    FloatStore() : file_(std::tmpfile()) {}
    bool ok() const { return file_ != nullptr && !failed_; }
    void append(const float* data, std::size_t n) {
        if (n && std::fwrite(data, sizeof(float), n, file_.get()) != n) failed_ = true;
        count_ += n;
    }
    std::uint64_t count() const { return count_; }
    void rewind() { std::rewind(file_.get()); }
    std::size_t read(std::vector<float>& out) {
        out.resize(kBlockFrames);
        std::size_t n = std::fread(out.data(), sizeof(float), out.size(), file_.get());
        out.resize(n);
        return n;
    }

private:
    File file_;
    std::uint64_t count_ = 0;
    bool failed_ = false;
};

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
    if (!in.open(source, options.mixChannels)) return failure(result, in.error());
    result.sourceRate = in.rate();
    result.sourceChannels = in.channels();

    soxr_error_t err = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    std::unique_ptr<soxr, SoxrDeleter> resampler(
        soxr_create(in.rate(), options.rate, 1, &err, &io, &quality, &runtime));
    if (!resampler || err) return failure(result, std::string("Resampling: ") + (err ? err : ""));

    FloatStore store;
    if (!store.ok()) return failure(result, "Failed to create a temporary file.");
    const double ratio = static_cast<double>(options.rate) / in.rate();
    std::vector<float> block;
    std::vector<float> resampled(static_cast<std::size_t>(kBlockFrames * ratio) + 256);
    float peak = 0;
    auto keep = [&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) peak = std::max(peak, std::fabs(resampled[i]));
        store.append(resampled.data(), n);
    };

    // First pass: decode, resample, measure.
    for (;;) {
        const std::size_t n = in.read(block, kBlockFrames);
        if (n == 0) break;
        std::size_t offset = 0;
        while (offset < n) {
            std::size_t used = 0, made = 0;
            err = soxr_process(resampler.get(), block.data() + offset, n - offset, &used,
                               resampled.data(), resampled.size(), &made);
            if (err) return failure(result, std::string("Resampling: ") + err);
            keep(made);
            offset += used;
        }
        if (options.progress) options.progress();
    }
    if (!in.error().empty()) return failure(result, in.error());
    for (;;) {  // the resampler's tail
        std::size_t made = 0;
        err = soxr_process(resampler.get(), nullptr, 0, nullptr, resampled.data(), resampled.size(),
                           &made);
        if (err) return failure(result, std::string("Resampling: ") + err);
        if (made == 0) break;
        keep(made);
    }
    if (!store.ok()) return failure(result, "Failed to write a temporary file.");
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
    if (count > kMaxDataBytes) return failure(result, "The sound is too long for one section.");

    // Second pass: gain, trim, dither, quantise, write.
    std::filesystem::path partial = target;
    partial += ".part";
    File out(std::fopen(partial.c_str(), "wb"));
    if (!out) return failure(result, "Failed to create file: " + target.string());
    const auto dataSize = static_cast<std::uint32_t>(count);
    auto header = waveHeader(options.rate, dataSize);
    bool written = std::fwrite(header.data(), 1, header.size(), out.get()) == header.size();
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
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size())
            written = false;
        if (options.progress) options.progress();
    }
    if (written && (dataSize & 1)) written = std::fputc(0, out.get()) != EOF;
    written = written && std::fflush(out.get()) == 0;
    written = (std::fclose(out.release()) == 0) && written;
    std::error_code ec;
    if (written) std::filesystem::rename(partial, target, ec);
    if (!written || ec) {
        std::filesystem::remove(partial, ec);
        return failure(result, "Failed to write file: " + target.string());
    }
    result.samples = dataSize;
    result.ok = true;
    return result;
}

}  // namespace sonoprog::audio
