#pragma once

#include <cstdint>

namespace sonoprog::audio {

// Float samples (full scale +-1) to 8-bit unsigned PCM, 0x80 the silent level,
// with triangular (TPDF) dither of +-1 step: the sum of two independent uniform
// values decorrelates the rounding error from the signal, so quiet passages
// keep their shape instead of turning into distortion. The generator is seeded,
// so one source converted twice gives the same bytes.
class Quantiser {
public:
    explicit Quantiser(std::uint32_t seed = 0x9E3779B9u, bool dither = true)
        : state_(seed ? seed : 1u), dither_(dither) {}

    std::uint8_t next(float sample);

private:
    float uniform();  // [0, 1)

    std::uint32_t state_;
    bool dither_;
};

}  // namespace sonoprog::audio
