#include "platform/SampleQuantizer.h"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korvanta {

namespace {

#if defined(__SSE2__)
// Four samples at once, the same integers as quantizeSample: NaN is zeroed first, the clip
// happens in float (where ±∞ clips too), and the conversion rounds to nearest even as lrintf does
// in the default rounding mode.
struct Quantizer4 {
    explicit Quantizer4(int bits)
        : scale(_mm_set1_ps(static_cast<float>(int32_t{1} << (bits - 1)))),
          highest(_mm_set1_ps(static_cast<float>((int32_t{1} << (bits - 1)) - 1))),
          lowest(_mm_set1_ps(-static_cast<float>(int32_t{1} << (bits - 1)))) {}

    __m128i operator()(const float* x) const {
        __m128 v = _mm_mul_ps(_mm_loadu_ps(x), scale);
        v = _mm_and_ps(v, _mm_cmpord_ps(v, v));
        v = _mm_max_ps(_mm_min_ps(v, highest), lowest);
        return _mm_cvtps_epi32(v);
    }

    __m128 scale, highest, lowest;
};
#endif

template <typename Sample, int kShift>
void quantizeInterleavedScalar(const float* const* channels, int channelCount, size_t first,
                               size_t from, size_t frames, int bits, Sample* out) {
    const size_t cc = static_cast<size_t>(channelCount);
    for (size_t c = 0; c < cc; ++c) {
        const float* src = channels[c] + first;
        for (size_t i = from; i < frames; ++i) {
            out[i * cc + c] = static_cast<Sample>(
                static_cast<int32_t>(static_cast<uint32_t>(quantizeSample(src[i], bits)) << kShift));
        }
    }
}

}  // namespace

void quantizeInterleaved16(const float* const* channels, int channelCount, size_t first,
                           size_t frames, int16_t* out) {
    size_t done = 0;
#if defined(__SSE2__)
    if (channelCount == 2) {
        const Quantizer4 q(16);
        const float* left = channels[0] + first;
        const float* right = channels[1] + first;
        for (; done + 8 <= frames; done += 8) {
            const __m128i l = _mm_packs_epi32(q(left + done), q(left + done + 4));
            const __m128i r = _mm_packs_epi32(q(right + done), q(right + done + 4));
            auto* to = reinterpret_cast<__m128i*>(out + 2 * done);
            _mm_storeu_si128(to, _mm_unpacklo_epi16(l, r));
            _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(l, r));
        }
    } else if (channelCount == 1) {
        const Quantizer4 q(16);
        const float* mono = channels[0] + first;
        for (; done + 8 <= frames; done += 8) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done),
                             _mm_packs_epi32(q(mono + done), q(mono + done + 4)));
        }
    }
#endif
    quantizeInterleavedScalar<int16_t, 0>(channels, channelCount, first, done, frames, 16, out);
}

void quantizeInterleaved24(const float* const* channels, int channelCount, size_t first,
                           size_t frames, int32_t* out) {
    size_t done = 0;
#if defined(__SSE2__)
    if (channelCount == 2) {
        const Quantizer4 q(24);
        const float* left = channels[0] + first;
        const float* right = channels[1] + first;
        for (; done + 4 <= frames; done += 4) {
            const __m128i l = _mm_slli_epi32(q(left + done), 8);
            const __m128i r = _mm_slli_epi32(q(right + done), 8);
            auto* to = reinterpret_cast<__m128i*>(out + 2 * done);
            _mm_storeu_si128(to, _mm_unpacklo_epi32(l, r));
            _mm_storeu_si128(to + 1, _mm_unpackhi_epi32(l, r));
        }
    } else if (channelCount == 1) {
        const Quantizer4 q(24);
        const float* mono = channels[0] + first;
        for (; done + 4 <= frames; done += 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done),
                             _mm_slli_epi32(q(mono + done), 8));
        }
    }
#endif
    quantizeInterleavedScalar<int32_t, 8>(channels, channelCount, first, done, frames, 24, out);
}

namespace {

template <bool kStreaming>
void snap(const float* in, float* out, size_t count, int bits) {
    const float step = 1.0f / static_cast<float>(int32_t{1} << (bits - 1));
    size_t i = 0;
#if defined(__SSE2__)
    const Quantizer4 q(bits);
    const __m128 stepVector = _mm_set1_ps(step);
    if constexpr (kStreaming) {
        // Stores that bypass the caches must be 16-byte aligned.
        for (; i < count && (reinterpret_cast<uintptr_t>(out + i) & 15) != 0; ++i) {
            out[i] = static_cast<float>(quantizeSample(in[i], bits)) * step;
        }
        for (; i + 4 <= count; i += 4) _mm_stream_ps(out + i, _mm_mul_ps(_mm_cvtepi32_ps(q(in + i)), stepVector));
        _mm_sfence();
    }
    for (; i + 4 <= count; i += 4) {
        _mm_storeu_ps(out + i, _mm_mul_ps(_mm_cvtepi32_ps(q(in + i)), stepVector));
    }
#endif
    for (; i < count; ++i) out[i] = static_cast<float>(quantizeSample(in[i], bits)) * step;
}

}  // namespace

void snapToSampleGrid(const float* in, float* out, size_t count, int bits) { snap<false>(in, out, count, bits); }

void snapToSampleGridStreaming(const float* in, float* out, size_t count, int bits) {
    snap<true>(in, out, count, bits);
}

}  // namespace korvanta
