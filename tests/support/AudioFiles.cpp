#include "tests/support/AudioFiles.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <numbers>

namespace sonoprog::test {

void writeSource(const std::filesystem::path& path, const SourceAudio& audio) {
    SF_INFO info{};
    info.samplerate = audio.rate;
    info.channels = audio.channels;
    info.format = audio.format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    const auto frames = static_cast<std::size_t>(audio.seconds * audio.rate + 0.5);
    std::vector<double> block;
    const std::size_t step = 4096;
    for (std::size_t start = 0; start < frames; start += step) {
        const std::size_t n = std::min(step, frames - start);
        block.assign(n * audio.channels, 0.0);
        for (std::size_t i = 0; i < n; ++i)
            for (int c = 0; c < audio.channels; ++c)
                block[i * audio.channels + c] =
                    audio.signal(c, static_cast<double>(start + i) / audio.rate);
        sf_writef_double(f, block.data(), static_cast<sf_count_t>(n));
    }
    ASSERT_EQ(sf_close(f), 0);
}

std::function<double(int, double)> sine(double hz, double dbfs) {
    const double a = std::pow(10.0, dbfs / 20.0);
    return [a, hz](int, double t) { return a * std::sin(2 * std::numbers::pi * hz * t); };
}

int wav16() {
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}
int wav24() {
    return SF_FORMAT_WAV | SF_FORMAT_PCM_24;
}
int wavFloat() {
    return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
}
int flac16() {
    return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
}
int oggVorbis() {
    return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
}
int wav8() {
    return SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
}
int mp3() {
    return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
}

std::vector<double> eightBitSamples(const std::vector<std::uint8_t>& wave) {
    std::vector<double> out;
    for (std::size_t i = 44; i < wave.size(); ++i) out.push_back((wave[i] - 128.0) / 128.0);
    return out;
}

double SineFit::sinadDb() const {
    return 10 * std::log10((amplitude * amplitude / 2) / residualPower);
}

SineFit fitSine(const std::vector<double>& x, double hz, double rate, std::size_t from,
                std::size_t to) {
    // Normal equations of x ~ a cos + b sin + c, solved by Cramer's rule.
    const double w = 2 * std::numbers::pi * hz / rate;
    double m[3][3] = {}, v[3] = {};
    for (std::size_t n = from; n < to; ++n) {
        const double basis[3] = {std::cos(w * n), std::sin(w * n), 1.0};
        for (int i = 0; i < 3; ++i) {
            v[i] += basis[i] * x[n];
            for (int j = 0; j < 3; ++j) m[i][j] += basis[i] * basis[j];
        }
    }
    auto det = [](double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    double coef[3];
    for (int k = 0; k < 3; ++k) {
        double t[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) t[i][j] = j == k ? v[i] : m[i][j];
        coef[k] = det(t) / d;
    }
    SineFit fit;
    fit.amplitude = std::hypot(coef[0], coef[1]);
    double residual = 0;
    for (std::size_t n = from; n < to; ++n) {
        const double e = x[n] - (coef[0] * std::cos(w * n) + coef[1] * std::sin(w * n) + coef[2]);
        residual += e * e;
    }
    fit.residualPower = residual / static_cast<double>(to - from);
    return fit;
}

}  // namespace sonoprog::test
