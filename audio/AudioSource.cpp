#include "audio/AudioSource.h"

#include <sndfile.h>
#include <unistd.h>

#include "core/FileHandle.h"

namespace sonoprog::audio {

// libsndfile reads through a descriptor it does not own, closed here after it.
struct AudioSource::Handle {
    int fd = -1;
    SNDFILE* file = nullptr;
    ~Handle() {
        if (file) sf_close(file);
        if (fd >= 0) ::close(fd);
    }
};

AudioSource::AudioSource() = default;
AudioSource::~AudioSource() = default;

bool AudioSource::open(const std::filesystem::path& path, bool mixChannels) {
    handle_.reset();
    error_.clear();
    SF_INFO info{};
    // Only a regular file: a pipe would wait for a writer, a device never ends.
    auto handle = std::make_unique<Handle>();
    handle->fd = core::openInputDescriptor(path, error_);
    if (handle->fd < 0) return false;
    handle->file =
        messages_.around([&] { return sf_open_fd(handle->fd, SFM_READ, &info, SF_FALSE); });
    if (!handle->file) {
        error_ = sf_strerror(nullptr);
        return false;
    }
    SNDFILE* file = handle->file;
    handle_ = std::move(handle);
    if (info.channels < 1 || info.samplerate < 1) {
        error_ = "The file declares no channels or no sample rate.";
        handle_.reset();
        return false;
    }
    // Integer sources scale to +-1 and float sources keep their values; a
    // float file louder than full scale is brought down by normalising or
    // clipped at quantising.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    rate_ = static_cast<std::uint32_t>(info.samplerate);
    channels_ = info.channels;
    frames_ = info.seekable ? static_cast<std::int64_t>(info.frames) : -1;
    mix_ = mixChannels;
    return true;
}

std::size_t AudioSource::read(std::vector<float>& out, std::size_t frames) {
    out.resize(frames);
    if (!handle_ || frames == 0) {
        out.clear();
        return 0;
    }
    const auto channels = static_cast<std::size_t>(channels_);
    float* target = out.data();
    if (channels > 1) {
        interleaved_.resize(frames * channels);
        target = interleaved_.data();
    }
    sf_count_t got = messages_.around(
        [&] { return sf_readf_float(handle_->file, target, static_cast<sf_count_t>(frames)); });
    if (got < 0) got = 0;
    if (got < static_cast<sf_count_t>(frames) && sf_error(handle_->file) != SF_ERR_NO_ERROR)
        error_ = sf_strerror(handle_->file);
    const auto n = static_cast<std::size_t>(got);
    if (channels > 1) {
        const float* in = interleaved_.data();
        if (mix_) {
            const float scale = 1.0f / static_cast<float>(channels);
            for (std::size_t i = 0; i < n; ++i) {
                float sum = 0;
                for (std::size_t c = 0; c < channels; ++c) sum += in[i * channels + c];
                out[i] = sum * scale;
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) out[i] = in[i * channels];
        }
    }
    out.resize(n);
    return n;
}

}  // namespace sonoprog::audio
