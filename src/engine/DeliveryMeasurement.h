// The delivery figures of a stretch of audio: true peak and standard integrated loudness.
#pragma once

#include <cstdint>

namespace korvanta {

struct DeliveryFigures {
    float truePeakDb = 0.0f;      // dBTP, see TruePeakMeter
    float integratedLufs = 0.0f;  // LUFS (R128), see R128LoudnessMeter; −inf when nothing passes the gates
};

// Feeds `frameCount` frames of de-interleaved samples through a TruePeakMeter (block by block)
// and an R128LoudnessMeter (processWhole). Never fails; safe from any number of threads.
DeliveryFigures measureDelivery(const float* const* channels, int channelCount, int64_t frameCount,
                                double sampleRate);

struct AudioStats;
// measureDelivery of the same samples into stats.truePeak and stats.lufsR128.
void addDeliveryFigures(AudioStats& stats, const float* const* channels, int channelCount,
                        int64_t frameCount, double sampleRate);

}  // namespace korvanta
