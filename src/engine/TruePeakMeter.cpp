// The interpolation runs over whole blocks: every output lane of a vector is one input position,
// and the same twelve shifted loads serve all four phases. Magnitudes are compared lane by lane
// and folded into one figure only at the end of a block.

#include "engine/TruePeakMeter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace korvanta {

namespace {

constexpr int kHistory = TruePeakMeter::kTapsPerPhase - 1;

// ITU-R BS.1770-4, Annex 2, Table 1: the four phases of the 48-tap interpolation filter.
// y[4n + p] = Σ_k kPhaseTaps[p][k] · x[n − k].
constexpr float kPhaseTaps[TruePeakMeter::kPhases][TruePeakMeter::kTapsPerPhase] = {
    {0.0017089843750f, 0.0109863281250f, -0.0196533203125f, 0.0332031250000f, -0.0594482421875f,
     0.1373291015625f, 0.9721679687500f, -0.1022949218750f, 0.0476074218750f, -0.0266113281250f,
     0.0148925781250f, -0.0083007812500f},
    {-0.0291748046875f, 0.0292968750000f, -0.0517578125000f, 0.0891113281250f, -0.1665039062500f,
     0.4650878906250f, 0.7797851562500f, -0.2003173828125f, 0.1015625000000f, -0.0582275390625f,
     0.0330810546875f, -0.0189208984375f},
    {-0.0189208984375f, 0.0330810546875f, -0.0582275390625f, 0.1015625000000f, -0.2003173828125f,
     0.7797851562500f, 0.4650878906250f, -0.1665039062500f, 0.0891113281250f, -0.0517578125000f,
     0.0292968750000f, -0.0291748046875f},
    {-0.0083007812500f, 0.0148925781250f, -0.0266113281250f, 0.0476074218750f, -0.1022949218750f,
     0.9721679687500f, 0.1373291015625f, -0.0594482421875f, 0.0332031250000f, -0.0196533203125f,
     0.0109863281250f, 0.0017089843750f},
};

using Vec16 = float __attribute__((vector_size(16 * sizeof(float))));
using Vec8 = float __attribute__((vector_size(8 * sizeof(float))));
using Vec4 = float __attribute__((vector_size(4 * sizeof(float))));
using Bits16 = int32_t __attribute__((vector_size(16 * sizeof(int32_t))));
using Bits8 = int32_t __attribute__((vector_size(8 * sizeof(int32_t))));
using Bits4 = int32_t __attribute__((vector_size(4 * sizeof(int32_t))));

// Vectors travel by reference: a 32-byte vector passed or returned by value has no fixed ABI
// without AVX.
template <typename V>
[[gnu::always_inline]] inline void loadVector(V& v, const float* p) {
    std::memcpy(&v, p, sizeof v);
}

// peak = max(|v|, peak) lane by lane; a NaN lane of v leaves peak as it was.
template <typename V>
[[gnu::always_inline]] inline void raisePeak(V& peak, const V& v) {
    using Bits = std::conditional_t<sizeof(V) == sizeof(Vec16), Bits16,
                                    std::conditional_t<sizeof(V) == sizeof(Vec8), Bits8, Bits4>>;
    const V magnitude = reinterpret_cast<V>(reinterpret_cast<Bits>(v) & 0x7fffffff);
    peak = magnitude > peak ? magnitude : peak;
}

// Σ_k |h[k]| of each phase, with a margin for rounding: no value a phase interpolates exceeds this
// times the largest magnitude among the twelve samples it is made of. The two outer phases, which
// lie near a sample, come to about 1.43; the two inner ones to about 2.02.
constexpr auto kPhaseBounds = [] {
    std::array<float, TruePeakMeter::kPhases> bounds{};
    for (int p = 0; p < TruePeakMeter::kPhases; ++p) {
        double sum = 0.0;
        for (const float tap : kPhaseTaps[p]) sum += tap < 0.0f ? -double(tap) : double(tap);
        bounds[size_t(p)] = static_cast<float>(sum * 1.001);
    }
    return bounds;
}();
// The same for every phase together (no sample exceeds it either).
constexpr float kBoundGain = [] {
    float largest = 1.0f;
    for (const float bound : kPhaseBounds) largest = bound > largest ? bound : largest;
    return largest;
}();

// Frames are interpolated in groups of this many; a group none of whose values can exceed the
// peak already found is passed over (in loud music most are), which leaves the result as it is.
constexpr int kGroupFrames = 16;

// The largest lane of `v`, by halving: a vector folded lane by lane would cost more than the
// test of a group saves.
template <typename V>
[[gnu::always_inline]] inline float largestLane(const V& v) {
    if constexpr (sizeof(V) == sizeof(Vec16)) {
        const Vec8 low = __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7);
        const Vec8 high = __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15);
        return largestLane(Vec8(high > low ? high : low));
    } else if constexpr (sizeof(V) == sizeof(Vec8)) {
        const Vec4 low = __builtin_shufflevector(v, v, 0, 1, 2, 3);
        const Vec4 high = __builtin_shufflevector(v, v, 4, 5, 6, 7);
        return largestLane(Vec4(high > low ? high : low));
    } else {
        const Vec4 half = __builtin_shufflevector(v, v, 2, 3, 2, 3);
        const Vec4 pairs = half > v ? half : v;
        return pairs[1] > pairs[0] ? pairs[1] : pairs[0];
    }
}

// The largest magnitude among samples window[kHistory ..) and their interpolated values, for
// `frames` input positions, where it exceeds `floor` (values up to `floor` may be passed over).
// window[0 .. kHistory) holds the samples before the block.
template <typename V, int Step>
[[gnu::always_inline]] inline float blockPeak(const float* window, int64_t frames, float floor) {
    constexpr int kWidth = sizeof(V) / sizeof(float);
    static_assert(kGroupFrames % kWidth == 0);
    V peak{};
    // The largest magnitude among the samples before the current group; its first kHistory
    // frames reach back that far.
    float before = 0.0f;
    for (int k = 0; k < kHistory; ++k) before = std::max(before, std::fabs(window[k]));
    int64_t i = 0;
    for (; i + kGroupFrames <= frames; i += kGroupFrames) {
        V magnitudes{};
        for (int j = 0; j < kGroupFrames; j += kWidth) {
            V x;
            loadVector(x, window + kHistory + i + j);
            raisePeak(magnitudes, x);
        }
        const float largest = largestLane(magnitudes);
        const float loudest = std::max(largest, before);
        before = largest;
        if (loudest * kBoundGain <= floor) continue;
        // Phases that cannot beat the peak here are passed over too.
        bool needed[TruePeakMeter::kPhases];
        for (int p = 0; p < TruePeakMeter::kPhases; ++p) needed[p] = loudest * kPhaseBounds[size_t(p)] > floor;
        for (int j = 0; j < kGroupFrames; j += kWidth) {
            V x[TruePeakMeter::kTapsPerPhase];
            for (int k = 0; k < TruePeakMeter::kTapsPerPhase; ++k) {
                loadVector(x[k], window + kHistory + i + j - k);
            }
            raisePeak(peak, x[0]);
            // Three partial sums per phase keep the dependent additions short.
            for (int p = 0; p < TruePeakMeter::kPhases; p += Step) {
                if (!needed[p]) continue;
                V s0 = kPhaseTaps[p][0] * x[0], s1 = kPhaseTaps[p][1] * x[1], s2 = kPhaseTaps[p][2] * x[2];
                for (int k = 3; k < TruePeakMeter::kTapsPerPhase; k += 3) {
                    s0 += kPhaseTaps[p][k] * x[k];
                    s1 += kPhaseTaps[p][k + 1] * x[k + 1];
                    s2 += kPhaseTaps[p][k + 2] * x[k + 2];
                }
                const V sum = (s0 + s1) + s2;
                raisePeak(peak, sum);
            }
        }
    }
    float result = largestLane(peak);
    // The last frames one by one, each value summed exactly as a lane of the vectors sums it, so
    // that the figure does not depend on where blocks begin and end.
    for (; i < frames; ++i) {
        const float* x = window + kHistory + i;
        if (std::fabs(x[0]) > result) result = std::fabs(x[0]);
        for (int p = 0; p < TruePeakMeter::kPhases; p += Step) {
            float s0 = kPhaseTaps[p][0] * x[0], s1 = kPhaseTaps[p][1] * x[-1], s2 = kPhaseTaps[p][2] * x[-2];
            for (int k = 3; k < TruePeakMeter::kTapsPerPhase; k += 3) {
                s0 += kPhaseTaps[p][k] * x[-k];
                s1 += kPhaseTaps[p][k + 1] * x[-k - 1];
                s2 += kPhaseTaps[p][k + 2] * x[-k - 2];
            }
            const float sum = (s0 + s1) + s2;
            if (std::fabs(sum) > result) result = std::fabs(sum);
        }
    }
    return result;
}

template <int Step>
float blockPeakBaseline(const float* window, int64_t frames, float floor) {
    return blockPeak<Vec4, Step>(window, frames, floor);
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
template <int Step>
__attribute__((target("avx2,fma"))) float blockPeakAvx2(const float* window, int64_t frames, float floor) {
    return blockPeak<Vec8, Step>(window, frames, floor);
}
template <int Step>
__attribute__((target("avx512f,avx2,fma"))) float blockPeakAvx512(const float* window, int64_t frames, float floor) {
    return blockPeak<Vec16, Step>(window, frames, floor);
}
#endif

template <int Step>
float blockPeakBest(const float* window, int64_t frames, float floor) {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
    static const int level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") != 0) return 2;
        return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0 ? 1 : 0;
    }();
    if (level == 2) return blockPeakAvx512<Step>(window, frames, floor);
    if (level == 1) return blockPeakAvx2<Step>(window, frames, floor);
#endif
    return blockPeakBaseline<Step>(window, frames, floor);
}

}  // namespace

void TruePeakMeter::prepare(int channelCount, double sampleRate) {
    factor_ = sampleRate >= 176400.0 ? 2 : kPhases;
    channels_.assign(static_cast<size_t>(std::max(channelCount, 0)), Channel{});
    for (auto& c : channels_) c.window.assign(static_cast<size_t>(2 * kHistory), 0.0f);
}

void TruePeakMeter::reset() {
    for (auto& c : channels_) {
        std::fill(c.window.begin(), c.window.end(), 0.0f);
        c.peak = 0.0f;
    }
}

void TruePeakMeter::process(const float* const* channels, int64_t frameCount) {
    if (frameCount <= 0) return;
    // The figure is the loudest channel's: what cannot exceed the peak of any channel so far need
    // not be interpolated.
    float floor = truePeakLinear();
    const auto blockPeak = [this](const float* window, int64_t frames, float below) {
        return factor_ == kPhases ? blockPeakBest<1>(window, frames, below) : blockPeakBest<2>(window, frames, below);
    };
    for (size_t c = 0; c < channels_.size(); ++c) {
        Channel& ch = channels_[c];
        const float* x = channels[c];
        float* window = ch.window.data();
        // The first frames take their history from the previous block, kept in the window; the
        // rest find theirs in `x` itself.
        const int64_t head = std::min<int64_t>(kHistory, frameCount);
        std::memcpy(window + kHistory, x, static_cast<size_t>(head) * sizeof(float));
        float peak = blockPeak(window, head, floor);
        for (int64_t done = head; done < frameCount; done += kBlockFrames) {
            floor = std::max(floor, peak);
            peak = std::max(peak, blockPeak(x + done - kHistory, std::min(kBlockFrames, frameCount - done), floor));
        }
        ch.peak = std::max(ch.peak, peak);
        floor = std::max(floor, peak);
        // The last kHistory samples, for the next block.
        if (frameCount >= kHistory) {
            std::memcpy(window, x + frameCount - kHistory, kHistory * sizeof(float));
        } else {
            std::memmove(window, window + frameCount, kHistory * sizeof(float));
        }
    }
}

float TruePeakMeter::truePeakLinear() const {
    float peak = 0.0f;
    for (const auto& c : channels_) peak = std::max(peak, c.peak);
    return peak;
}

float TruePeakMeter::truePeakDb() const {
    const double linear = std::max(double(truePeakLinear()), double(std::numeric_limits<float>::denorm_min()));
    return static_cast<float>(20.0 * std::log10(linear));
}

}  // namespace korvanta
