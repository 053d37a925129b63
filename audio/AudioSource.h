#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/DecoderMessages.h"

namespace sonoprog::audio {

// One channel of float samples (full scale +-1) read in blocks from any file
// libsndfile opens. Several channels become one here: their mean, or the first
// channel alone, so that the rest of the chain works on one channel only.
class AudioSource {
public:
    AudioSource();
    ~AudioSource();
    AudioSource(const AudioSource&) = delete;
    AudioSource& operator=(const AudioSource&) = delete;

    // False with error() holding libsndfile's reason, or the reason a path
    // that is not a regular file (a pipe, a device, a folder) is refused.
    bool open(const std::filesystem::path& path, bool mixChannels);

    // Up to `frames` samples into out (resized); 0 at the end. A read error
    // ends the stream early with error() set.
    std::size_t read(std::vector<float>& out, std::size_t frames);

    std::uint32_t rate() const { return rate_; }
    int channels() const { return channels_; }
    std::int64_t frames() const { return frames_; }  // as the file declares it, -1 unknown
    const std::string& error() const { return error_; }
    // What the decoder printed on standard error while opening and reading,
    // caught instead of reaching the terminal.
    const DecoderMessages& messages() const { return messages_; }

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::uint32_t rate_ = 0;
    int channels_ = 0;
    std::int64_t frames_ = -1;
    bool mix_ = false;
    std::vector<float> interleaved_;
    std::string error_;
    DecoderMessages messages_;
};

}  // namespace sonoprog::audio
