// Integrated loudness and loudness range as ITU-R BS.1770-4 and EBU R128 define them.
#pragma once

#include <cstdint>
#include <vector>

namespace korvanta {

// The K-weighting of BS.1770-4 designed for a given sample rate: a high-shelf then a high-pass
// (numerator 1, −2, 1), in double precision. At 48 kHz it gives the recommendation's table.
struct KWeightingDesign {
    double shelfB[3]{}, shelfA[3]{};  // a[0] = 1
    double highPassB[3]{}, highPassA[3]{};

    static KWeightingDesign forSampleRate(double sampleRate);
    double magnitudeDb(double frequencyHz, double sampleRate) const;  // both stages together
};

// Begin (prepare) → feed blocks (process) → read the results. Blocks of 400 ms start every
// 100 ms ((sampleRate + 5) / 10 frames, integer division); a block counts once all its frames
// have been fed. Channel weights: 1.0 for the first three channels, 1.41 from the fourth on,
// except the fourth of six channels (the LFE of 5.1), which is left out.
//
// Owned by one thread at a time; process() allocates only to remember one figure per 100 ms.
// process() gives the same figures however the signal is cut into blocks.
class R128LoudnessMeter {
public:
    // `channelCount` ≥ 0, `sampleRate` in Hz (≥ 10 for any block to exist). Clears everything.
    void prepare(int channelCount, double sampleRate);

    // `channels[c]` holds `frameCount` samples of channel c; blocks follow on in time.
    void process(const float* const* channels, int64_t frameCount);
    // The same as process() for a whole signal in memory, fed to a freshly prepared meter: mono
    // and stereo run as four stretches side by side in the lanes of one vector, each stretch after
    // the first started 8192 frames early from silence, so that its history has settled (to
    // below 1e−17 of the signal) where its count begins. Other layouts, or a meter already fed,
    // go through process().
    void processWhole(const float* const* channels, int64_t frameCount);

    // Gated integrated loudness, LUFS: blocks above −70 LUFS, then those above the mean of
    // these less 10 LU. −infinity when no block passes (silence, or less than 400 ms).
    double integratedLufs() const;
    // EBU Tech 3342 loudness range, LU: 3 s windows every 100 ms, gated at −70 LUFS and 20 LU
    // below their mean, from the 10th to the 95th percentile. 0 when no window passes.
    double loudnessRangeLu() const;

private:
    struct ChannelState {
        double weight = 1.0;
        double x1 = 0, x2 = 0, s1 = 0, s2 = 0, y1 = 0, y2 = 0;  // input, shelf, high-pass history
        double squares = 0;  // Σ y² of the current 100 ms so far
    };

    KWeightingDesign design_;
    std::vector<ChannelState> channels_;
    int64_t segmentFrames_ = 0;  // 100 ms
    int64_t segmentFilled_ = 0;  // frames of the current 100 ms fed so far
    std::vector<double> segments_;  // weighted Σ y² of every finished 100 ms
};

}  // namespace korvanta
