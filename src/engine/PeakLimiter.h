// The mastering limiter of one channel: gain, a short peak-hold limiter timed from the tempo, and
// a target-dependent soft clipper.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace korvanta {

// Limiter timing derived from a song's tempo.
struct LimiterTiming {
    int lookaheadSamples = 16;    // ring length: the peak is taken over this many samples
    float attackSeconds = 0.001f;
    float releaseSeconds = 0.06f;
    float attackCoef = 0.0f;      // exp(−1 / (attackSeconds · sampleRate))
    float releaseCoef = 0.0f;     // exp(−1 / (releaseSeconds · sampleRate))
};

// Timing for `bpm` beats per minute (0 or below: no tempo) at `sampleRate` Hz (> 0):
// - bpm ≤ 0: 16 samples, attack 1 ms, release 60 ms.
// - otherwise release = (60000 / bpm) · factor / 1000 s, clamped to 0.02 … 0.15 s, where factor is
//   0.15 up to 80 bpm, falls linearly by 0.05 per 40 bpm from 81 to 120 bpm and by 0.03 per 50 bpm
//   above; attack is 1.2 ms up to 100 bpm, 1 ms for 101 … 140, 0.8 ms from 141; the lookahead is
//   Int(attack · sampleRate · 3) clamped to 8 … 32 samples.
// All arithmetic is single precision.
LimiterTiming limiterTimingForTempo(int bpm, double sampleRate);

// Processes one channel, sample by sample, as follows (all single precision):
//  1. x = gain · sample. A product that is NaN counts as 0 and one that is ±∞ as ±FLT_MAX, so no
//     input and no gain (however large) can make the output or the limiter state non-finite.
//  2. peak = max |x| over the current sample and the lookahead − 1 before it (zeros before the
//     first sample); the output is not delayed.
//  3. limit = 0.99 · c when targetLUFS ≥ −13, else 0.97 · c, with ceiling c = 10^(ceilingDb / 20)
//     (a NaN ceilingDb counts as 0 dBFS).
//     peak ≤ limit: desired = 1, coefficient attack when g > 1, else release.
//     peak > limit: desired = limit / peak; when desired < g the coefficient is attack, otherwise
//     the coefficient is release and desired becomes min(desired · 1.1, 1) (targetLUFS ≥ −13) or
//     min(desired, 1) (below −13).
//  4. g = coef · g + (1 − coef) · desired (g starts at 1); y = x · g.
//  5. Soft clip with knee k = 0.99, drive d = 4 (targetLUFS ≥ −13) or k = 0.95, d = 3: y > k
//     becomes k + (1 − k) · tanh(d · (y − k)), y < −k becomes −k − (1 − k) · tanh(d · (−y − k)).
//  6. y is clamped to ±outputBound (when one is given).
// The peak over the lookahead is kept as a sliding maximum and the per-sample work is arranged in
// vectorisable passes; the output is bit-identical to the plain per-sample procedure above.
//
// Construction allocates; process() never allocates and never throws. One instance per channel;
// an instance is not thread-safe, but different instances may run on different threads.
class PeakLimiter {
public:
    // `outputBound`: every output is finally clamped to ±outputBound (no clamp by default).
    PeakLimiter(float gainLinear, float targetLUFS, float ceilingDb, const LimiterTiming& timing,
                float outputBound = HUGE_VALF);

    // Processes `frameCount` samples in place, continuing from the state the previous call left.
    void process(float* samples, uint32_t frameCount) { process(samples, samples, frameCount); }

    // The same from `input` into `output` (which may be `input` itself, or not overlap it).
    void process(const float* input, float* output, uint32_t frameCount);

    // Back to g = 1 and an empty (all-zero) lookahead.
    void reset();

    float currentGain() const { return g_; }  // the limiter gain g after the last sample

private:
    static constexpr uint32_t kBlock = 512;  // samples per internal pass; sized to stay in L1

    struct Passes;  // the vectorisable passes, compiled for one instruction set
    static const Passes& passesForThisMachine();

    void processBlock(const float* input, float* output, uint32_t n);

    // Parameters, fixed at construction.
    float gain_;
    float limit_;
    float attackCoef_, releaseCoef_;
    float oneMinusAttack_, oneMinusRelease_;
    bool loudTarget_;  // targetLUFS ≥ −13
    float knee_, drive_, kneeRest_;
    float outputBound_;
    uint32_t lookahead_;
    const Passes* passes_;

    // State carried from sample to sample and across calls.
    float g_ = 1.0f;
    std::vector<float> magnitudes_;  // |x| of the last lookahead − 1 samples, then one block

    // Scratch for one block.
    std::vector<float> x_, window_, peak_, attackDesired_, attackTerm_, releaseTerm_;
};

}  // namespace korvanta
