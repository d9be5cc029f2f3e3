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
    // The same as process() for a signal that stays in memory while it grows (as it is decoded
    // or rendered), fed to a freshly prepared meter: frames [0, available) of channel c are at
    // channels[c], the same arrays at every call and `available` never less than before. The
    // signal is measured in stretches of kStretchSegments segments, four lanes of them (a stretch
    // and channel each) side by side in one vector; every stretch is started from silence
    // settlingFrames() before its first frame, by which time its history is the signal's to
    // within 1e−20 of the signal. A call measures the whole stretches that fill the lanes; with
    // `complete` everything, after which the meter takes nothing more. The figures are the same
    // whatever `available` was at each call (and within rounding of those of process()).
    // A meter fed by process() before, or one whose filter settles too slowly for stretches (at
    // rates of a few kHz), goes on in order.
    void processAvailable(const float* const* channels, int64_t available, bool complete);
    // processAvailable(channels, frameCount, true).
    void processWhole(const float* const* channels, int64_t frameCount);
    // What processAvailable() needs before it measures again: the frames up to the end of its next
    // stretches (any new frame when it goes on in order).
    int64_t nextBatchEnd() const;
    // Frames measured so far (by whole stretches, or in order).
    int64_t framesMeasured() const;

    static constexpr int64_t kStretchSegments = 64;
    int64_t settlingFrames() const { return settlingFrames_; }

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

    // Stretches.
    void measureStretches(const float* const* channels, int64_t first, int64_t count, int64_t segmentsEach);
    bool inStretches() const;
    int64_t stretchFrames() const { return segmentFrames_ * kStretchSegments; }
    int64_t settlingFrames_ = -1;  // −1: too slow for stretches
    int64_t stretchesPerBatch_ = 1;
    int64_t stretchesMeasured_ = 0;
    int64_t fedInOrder_ = 0;      // frames fed by process()
    int64_t completedAt_ = -1;    // the signal's length once processAvailable() completed it
};

}  // namespace korvanta
