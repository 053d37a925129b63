#include "audio/Quantiser.h"

#include <cmath>

namespace sonoprog::audio {

float Quantiser::uniform() {
    // xorshift32: fast, and plenty for dither.
    std::uint32_t x = state_;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    state_ = x;
    return static_cast<float>(x >> 8) * (1.0f / 16777216.0f);
}

std::uint8_t Quantiser::next(float sample) {
    float level = sample * 128.0f + 128.0f;
    if (dither_) level += uniform() - uniform();
    // std::lround is slow on some libraries; floor of +0.5 rounds the same here.
    float rounded = std::floor(level + 0.5f);
    if (!(rounded >= 0.0f)) return 0;  // NaN too
    if (rounded > 255.0f) return 255;
    return static_cast<std::uint8_t>(rounded);
}

}  // namespace sonoprog::audio
