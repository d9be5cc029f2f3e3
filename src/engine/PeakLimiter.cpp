#include "engine/PeakLimiter.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace korvanta {

namespace {

// The passes below are plain element-wise loops, compiled once for the baseline instruction set
// and, on x86-64, once more for AVX2, chosen when the first limiter is made (an explicit choice
// rather than an ifunc, whose resolver would run before sanitizer runtimes start). Every
// operation in them is exactly rounded element by element, so both versions give identical
// results.
#define KORVANTA_PASS [[gnu::always_inline]] inline

// x[i] = gain · samples[i] with NaN → 0 and ±∞ → ±FLT_MAX; magnitudes[i] = |x[i]|.
KORVANTA_PASS void gainAndMagnitudes(const float* __restrict samples, float gain,
                                     float* __restrict x, float* __restrict magnitudes,
                                     uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        float v = gain * samples[i];
        v = v == v ? v : 0.0f;
        v = v > FLT_MAX ? FLT_MAX : v;
        v = v < -FLT_MAX ? -FLT_MAX : v;
        x[i] = v;
        magnitudes[i] = std::fabs(v);
    }
}

// dst[i] = max(src[i], src[i − shift]) for i ≥ shift, src[i] below: doubles the window a
// maximum covers. Both arrays hold `count` values and must not overlap.
KORVANTA_PASS void widenWindow(const float* __restrict src, float* __restrict dst,
                               uint32_t shift, uint32_t count) {
    const size_t head = std::min(shift, count);
    for (size_t i = 0; i < head; ++i) dst[i] = src[i];
    const float* __restrict current = src + head;
    const float* __restrict lagged = src;
    float* __restrict out = dst + head;
    const size_t rest = count - head;
    for (size_t i = 0; i < rest; ++i) {
        const float a = current[i];
        const float b = lagged[i];
        out[i] = a > b ? a : b;
    }
}

// The desired gains and the (1 − coef) · desired terms of both branches, per sample. With dA the
// desired value on attack, the attack branch is taken exactly when dA < g in both cases of the
// limiter rule (peak ≤ limit gives dA = 1 and the rule "attack when g > 1").
KORVANTA_PASS void desiredTerms(const float* __restrict peak, float limit, float releaseScale,
                                float oneMinusA, float oneMinusR, float* __restrict dA,
                                float* __restrict tA, float* __restrict tR, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        const float p = peak[i];
        const bool over = p > limit;
        const float d = limit / p;  // unused (and possibly not finite) unless over
        const float scaled = d * releaseScale;
        const float attackDesired = over ? d : 1.0f;
        const float capped = scaled < 1.0f ? scaled : 1.0f;
        const float releaseDesired = over ? capped : 1.0f;
        dA[i] = attackDesired;
        tA[i] = oneMinusA * attackDesired;
        tR[i] = oneMinusR * releaseDesired;
    }
}

// The passes for the baseline instruction set, and for AVX2 where the compiler can target it.
void gainAndMagnitudesBaseline(const float* samples, float gain, float* x, float* magnitudes,
                               uint32_t n) {
    gainAndMagnitudes(samples, gain, x, magnitudes, n);
}
void widenWindowBaseline(const float* src, float* dst, uint32_t shift, uint32_t count) {
    widenWindow(src, dst, shift, count);
}
void desiredTermsBaseline(const float* peak, float limit, float releaseScale, float oneMinusA,
                          float oneMinusR, float* dA, float* tA, float* tR, uint32_t n) {
    desiredTerms(peak, limit, releaseScale, oneMinusA, oneMinusR, dA, tA, tR, n);
}

#if defined(__GNUC__) && defined(__x86_64__)
#define KORVANTA_HAS_AVX2_PASSES 1
[[gnu::target("avx2")]] void gainAndMagnitudesAvx2(const float* samples, float gain, float* x,
                                                   float* magnitudes, uint32_t n) {
    gainAndMagnitudes(samples, gain, x, magnitudes, n);
}
[[gnu::target("avx2")]] void widenWindowAvx2(const float* src, float* dst, uint32_t shift,
                                             uint32_t count) {
    widenWindow(src, dst, shift, count);
}
[[gnu::target("avx2")]] void desiredTermsAvx2(const float* peak, float limit, float releaseScale,
                                              float oneMinusA, float oneMinusR, float* dA,
                                              float* tA, float* tR, uint32_t n) {
    desiredTerms(peak, limit, releaseScale, oneMinusA, oneMinusR, dA, tA, tR, n);
}
#endif

}  // namespace

struct PeakLimiter::Passes {
    void (*gainAndMagnitudes)(const float*, float, float*, float*, uint32_t);
    void (*widenWindow)(const float*, float*, uint32_t, uint32_t);
    void (*desiredTerms)(const float*, float, float, float, float, float*, float*, float*,
                         uint32_t);
};

const PeakLimiter::Passes& PeakLimiter::passesForThisMachine() {
    static const Passes baseline{gainAndMagnitudesBaseline, widenWindowBaseline,
                                 desiredTermsBaseline};
#ifdef KORVANTA_HAS_AVX2_PASSES
    static const Passes avx2{gainAndMagnitudesAvx2, widenWindowAvx2, desiredTermsAvx2};
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    if (hasAvx2) return avx2;
#endif
    return baseline;
}

LimiterTiming limiterTimingForTempo(int bpm, double sampleRate) {
    const float rate = static_cast<float>(sampleRate);
    LimiterTiming t;
    if (bpm <= 0) {
        t.lookaheadSamples = 16;
        t.attackSeconds = 0.001f;
        t.releaseSeconds = 0.06f;
    } else {
        const float tempo = static_cast<float>(bpm);
        float factor;
        if (bpm <= 80) factor = 0.15f;
        else if (bpm <= 120) factor = 0.15f + ((tempo - 80.0f) / -40.0f) * 0.05f;
        else factor = 0.1f + ((tempo - 120.0f) / -50.0f) * 0.03f;
        float release = (60000.0f / tempo) * factor / 1000.0f;
        if (release <= 0.02f) release = 0.02f;
        else if (release > 0.15f) release = 0.15f;
        t.releaseSeconds = release;

        if (bpm <= 100) t.attackSeconds = 0.0012f;
        else if (bpm <= 140) t.attackSeconds = 0.001f;
        else t.attackSeconds = 0.0008f;

        // Int() truncates towards zero; clamping in float first keeps huge rates in range.
        const float lookahead = std::clamp(t.attackSeconds * rate * 3.0f, 8.0f, 32.0f);
        t.lookaheadSamples = static_cast<int>(lookahead);
    }
    t.attackCoef = std::exp(-1.0f / (t.attackSeconds * rate));
    t.releaseCoef = std::exp(-1.0f / (t.releaseSeconds * rate));
    return t;
}

PeakLimiter::PeakLimiter(float gainLinear, float targetLUFS, float ceilingDb,
                         const LimiterTiming& timing, float outputBound)
    : gain_(gainLinear),
      attackCoef_(timing.attackCoef),
      releaseCoef_(timing.releaseCoef),
      oneMinusAttack_(1.0f - timing.attackCoef),
      oneMinusRelease_(1.0f - timing.releaseCoef),
      loudTarget_(targetLUFS >= -13.0f),
      lookahead_(static_cast<uint32_t>(std::clamp(timing.lookaheadSamples, 1, 4096))),
      passes_(&passesForThisMachine()) {
    float ceiling = exp10f(ceilingDb / 20.0f);
    if (std::isnan(ceiling)) ceiling = 1.0f;
    limit_ = (loudTarget_ ? 0.99f : 0.97f) * ceiling;
    knee_ = loudTarget_ ? 0.99f : 0.95f;
    drive_ = loudTarget_ ? 4.0f : 3.0f;
    kneeRest_ = 1.0f - knee_;
    outputBound_ = std::isnan(outputBound) ? HUGE_VALF : std::fabs(outputBound);

    const size_t history = lookahead_ - 1;
    magnitudes_.assign(history + kBlock, 0.0f);
    window_.assign(history + kBlock, 0.0f);
    peak_.assign(history + kBlock, 0.0f);
    x_.assign(kBlock, 0.0f);
    attackDesired_.assign(kBlock, 0.0f);
    attackTerm_.assign(kBlock, 0.0f);
    releaseTerm_.assign(kBlock, 0.0f);
}

void PeakLimiter::reset() {
    g_ = 1.0f;
    std::fill(magnitudes_.begin(), magnitudes_.end(), 0.0f);
}

void PeakLimiter::process(const float* input, float* output, uint32_t frameCount) {
    for (uint32_t done = 0; done < frameCount;) {
        const uint32_t n = std::min(kBlock, frameCount - done);
        processBlock(input + done, output + done, n);
        done += n;
    }
}

void PeakLimiter::processBlock(const float* input, float* output, uint32_t n) {
    const uint32_t history = lookahead_ - 1;
    const uint32_t total = history + n;

    // Pass 1: the gained, sanitised samples and their magnitudes after the history.
    passes_->gainAndMagnitudes(input, gain_, x_.data(), magnitudes_.data() + history, n);

    // Pass 2: the sliding maximum over the lookahead, by doubling windows 1, 2, 4, … up to the
    // largest power of two ≤ lookahead, then one final step for the remainder.
    const float* windowMax = magnitudes_.data();
    uint32_t width = 1;
    float* targets[2] = {window_.data(), peak_.data()};
    int next = 0;
    while (width * 2 <= lookahead_) {
        passes_->widenWindow(windowMax, targets[next], width, total);
        windowMax = targets[next];
        next ^= 1;
        width *= 2;
    }
    if (width < lookahead_) {
        passes_->widenWindow(windowMax, targets[next], lookahead_ - width, total);
        windowMax = targets[next];
    }
    const float* peak = windowMax + history;

    // Pass 3: everything of the gain step that does not depend on g.
    passes_->desiredTerms(peak, limit_, loudTarget_ ? 1.1f : 1.0f, oneMinusAttack_,
                          oneMinusRelease_, attackDesired_.data(), attackTerm_.data(),
                          releaseTerm_.data(), n);

    // Pass 4: the gain recursion, the only sequential part, the soft clipper and the output bound.
    // The clipper is mirrored through |y| (bit-identical, as rounding is symmetric) so that one
    // rarely taken branch guards it.
    {
        const float a = attackCoef_;
        const float r = releaseCoef_;
        const float k = knee_;
        const float drive = drive_;
        const float rest = kneeRest_;
        const float bound = outputBound_;
        const float guard = std::min(k, bound);  // below it a sample passes unchanged
        const float* __restrict dA = attackDesired_.data();
        const float* __restrict tA = attackTerm_.data();
        const float* __restrict tR = releaseTerm_.data();
        const float* __restrict x = x_.data();
        float g = g_;
        for (uint32_t i = 0; i < n; ++i) {
            const float onAttack = a * g + tA[i];
            const float onRelease = r * g + tR[i];
            g = dA[i] < g ? onAttack : onRelease;
            float y = x[i] * g;
            const float magnitude = std::fabs(y);
            if (magnitude > guard) {
                const float clipped = magnitude > k ? k + rest * std::tanh(drive * (magnitude - k)) : magnitude;
                y = std::copysign(std::min(clipped, bound), y);
            }
            output[i] = y;
        }
        g_ = g;
    }

    // Keep the last lookahead − 1 magnitudes as the next block's history.
    std::copy(magnitudes_.begin() + n, magnitudes_.begin() + total, magnitudes_.begin());
}

}  // namespace korvanta
