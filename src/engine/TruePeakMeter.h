// True peak of planar audio, by the interpolation of ITU-R BS.1770-4 Annex 2.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace korvanta {

// Begin (prepare) → feed blocks (process) → read the result (truePeakDb). The signal is
// oversampled 4× with the recommendation's 48-tap interpolation filter (12 taps per phase) at
// rates below 176.4 kHz and 2× (every other phase of the same filter) from there on, where the
// samples already lie as densely as 4× 44.1 kHz; the peak is the largest magnitude among the
// interpolated values and the samples themselves, over every channel.
//
// Owned by one thread at a time; process() never allocates after prepare() and never fails.
// Non-finite samples are skipped by the peak (NaN) or make it infinite (±inf).
class TruePeakMeter {
public:
    static constexpr int kTapsPerPhase = 12;
    static constexpr int kPhases = 4;
    static constexpr int64_t kBlockFrames = 4096;  // frames interpolated per inner run (the floor
                                                   // below which nothing is interpolated rises
                                                   // between runs)

    // `channelCount` ≥ 0, `sampleRate` in Hz. Allocates; clears any previous measurement.
    void prepare(int channelCount, double sampleRate);
    void reset();  // same channels and rate, nothing measured yet

    // `channels[c]` holds `frameCount` samples of channel c (full scale ±1.0); blocks follow on
    // from one another in time.
    void process(const float* const* channels, int64_t frameCount);

    int oversamplingFactor() const { return factor_; }
    float truePeakLinear() const;  // 0 before any sample
    // 20 · log10 of truePeakLinear(), raised first to the smallest positive float (about
    // −897.1 dBTP for silence).
    float truePeakDb() const;

private:
    struct Channel {
        // The last kTapsPerPhase − 1 samples, then room for as many new ones (where a block's
        // first frames meet the history).
        std::vector<float> window;
        float peak = 0.0f;
    };

    int factor_ = kPhases;
    std::vector<Channel> channels_;
};

}  // namespace korvanta
