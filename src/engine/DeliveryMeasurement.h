// The delivery figures of a song: true peak and standard integrated loudness, always of the whole
// song (the system's own figures cover a central window; these are what a service or a player
// sees).
#pragma once

#include <cstdint>
#include <limits>

#include "engine/R128LoudnessMeter.h"
#include "engine/TruePeakMeter.h"

namespace korvanta {

struct AudioStats;

// Both NaN until measured.
struct DeliveryFigures {
    float truePeakDb = std::numeric_limits<float>::quiet_NaN();      // dBTP, see TruePeakMeter
    float integratedLufs = std::numeric_limits<float>::quiet_NaN();  // LUFS (R128), see R128LoudnessMeter;
                                                                     // −inf when nothing passes the gates
};

// What a true-peak meter and a loudness meter have measured, as delivery figures.
DeliveryFigures deliveryFigures(const TruePeakMeter& peak, const R128LoudnessMeter& loudness);

// The figures of `frameCount` frames of de-interleaved samples held in memory (the loudness by
// R128LoudnessMeter::processWhole). Never fails; safe from any number of threads.
DeliveryFigures measureDelivery(const float* const* channels, int channelCount, int64_t frameCount,
                                double sampleRate);

// The same figures for a song that arrives in consecutive blocks (as a rendering is written).
// Owned by one thread at a time; process() allocates only as the loudness meter does.
class DeliveryMeter {
public:
    void prepare(int channelCount, double sampleRate);
    void reset();  // same layout, nothing measured
    void process(const float* const* channels, int64_t frameCount);
    int64_t framesMeasured() const { return frames_; }
    DeliveryFigures figures() const;

private:
    int channelCount_ = 0;
    double sampleRate_ = 0.0;
    int64_t frames_ = 0;
    TruePeakMeter peak_;
    R128LoudnessMeter loudness_;
};

void setDeliveryFigures(AudioStats& stats, const DeliveryFigures& figures);
// measureDelivery of the same samples into stats.truePeak and stats.lufsR128.
void addDeliveryFigures(AudioStats& stats, const float* const* channels, int channelCount,
                        int64_t frameCount, double sampleRate);

// Whether masters measure their delivery figures (on unless a benchmark compares the cost).
bool deliveryFiguresEnabled();
void setDeliveryFiguresEnabled(bool enabled);

}  // namespace korvanta
