#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace sonoprog::test {

// A source file written by libsndfile itself, so that the importer meets what
// other programs write: `format` is a libsndfile major | subtype pair, every
// channel gets signal(channel, time in seconds).
struct SourceAudio {
    int format = 0;
    int rate = 44100;
    int channels = 2;
    double seconds = 1.0;
    std::function<double(int channel, double t)> signal;
};
void writeSource(const std::filesystem::path& path, const SourceAudio& audio);

// sin(2 pi f t) scaled to `dbfs`, the same on every channel.
std::function<double(int, double)> sine(double hz, double dbfs);

// 16-bit stereo WAV, 24-bit WAV, 32-bit float WAV, FLAC, Ogg Vorbis.
int wav16();
int wav24();
int wavFloat();
int flac16();
int oggVorbis();
// 8-bit unsigned WAV.
int wav8();
// MPEG layer III (the decoder prints its notes on standard error).
int mp3();

// The data bytes of a canonical 44-byte-header 8-bit WAV as full-scale values.
std::vector<double> eightBitSamples(const std::vector<std::uint8_t>& wave);

// Least-squares fit of a sine of frequency hz (sample rate `rate`) plus a
// constant to samples[from, to): the fitted amplitude and the power of what
// the fit leaves.
struct SineFit {
    double amplitude = 0;
    double residualPower = 0;
    double sinadDb() const;  // signal power over residual power
};
SineFit fitSine(const std::vector<double>& samples, double hz, double rate, std::size_t from,
                std::size_t to);

}  // namespace sonoprog::test
