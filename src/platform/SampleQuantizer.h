// Float samples to the integers of 16- and 24-bit files: round x · 2^(bits−1) to nearest (ties to
// even) and clip to the integer range; NaN becomes 0. Every function here gives exactly what
// quantizeSample gives, sample by sample; the block forms are vectorised.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace korvanta {

// One sample at `bits` (16 or 24) bits.
inline int32_t quantizeSample(float x, int bits) {
    // x · 2^(bits−1) is exact in float for every bit depth up to 24, so rounding it in float gives
    // the same integer as rounding in double.
    const float scale = static_cast<float>(int32_t{1} << (bits - 1));
    const float v = x * scale;
    if (!(v == v)) return 0;
    if (v >= scale - 1.0f) return static_cast<int32_t>(scale) - 1;
    if (v <= -scale) return -static_cast<int32_t>(scale);
    return static_cast<int32_t>(std::lrintf(v));
}

// Frames [first, first + frames) of `channelCount` planar arrays, quantised to 16 bits and
// interleaved into `out` (frames · channelCount values).
void quantizeInterleaved16(const float* const* channels, int channelCount, size_t first,
                           size_t frames, int16_t* out);

// The same at 24 bits, each value shifted left by 8 (the top 24 bits of a 32-bit integer, as
// 24-bit writing takes them).
void quantizeInterleaved24(const float* const* channels, int channelCount, size_t first,
                           size_t frames, int32_t* out);

// out[i] = quantizeSample(in[i], bits) / 2^(bits−1): the value a `bits`-bit file holds for in[i],
// read back as a float. `in` and `out` may be the same array.
void snapToSampleGrid(const float* in, float* out, size_t count, int bits);
// The same, written past the caches: for long arrays that are read again only later, so that
// writing them neither reads them in first nor pushes out what is being worked on. `in` and `out`
// must not overlap.
void snapToSampleGridStreaming(const float* in, float* out, size_t count, int bits);

}  // namespace korvanta
