#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sonoprog::audio {

// What a decoding library prints on the process's standard error (libsndfile's
// MP3 decoder writes its notes there itself) caught instead, so that the
// program can pass it on as warnings of its own form: one line of raw text in
// the middle of a JSON stream would break it. While a capture is open, file
// descriptor 2 points at a private anonymous file (never a pipe, which a long
// burst of notes would fill and block on); closing it puts the earlier
// standard error back and keeps the lines written meanwhile.
class DecoderMessages {
public:
    DecoderMessages();
    ~DecoderMessages();
    DecoderMessages(const DecoderMessages&) = delete;
    DecoderMessages& operator=(const DecoderMessages&) = delete;

    // Runs `work` with standard error caught and returns what it returns.
    template <typename Work>
    auto around(Work&& work) {
        Capture capture(*this);
        return work();
    }

    // The distinct lines caught so far, in order, at most kKeptLines of them;
    // `dropped()` counts the lines past that.
    const std::vector<std::string>& lines() const { return lines_; }
    std::size_t dropped() const { return dropped_; }

    static constexpr std::size_t kKeptLines = 20;

private:
    class Capture {
    public:
        explicit Capture(DecoderMessages& owner) : owner_(owner) { owner_.begin(); }
        ~Capture() { owner_.end(); }
        Capture(const Capture&) = delete;
        Capture& operator=(const Capture&) = delete;

    private:
        DecoderMessages& owner_;
    };
    void begin();
    void end();
    void take(const std::string& line);

    int file_ = -1;
    int saved_ = -1;
    std::vector<std::string> lines_;
    std::size_t dropped_ = 0;
};

}  // namespace sonoprog::audio
