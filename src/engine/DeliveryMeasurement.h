// The delivery figures of a stretch of audio: true peak and standard integrated loudness.
#pragma once

#include <cstdint>

namespace korvanta {

struct DeliveryFigures {
    float truePeakDb = 0.0f;      // dBTP, see TruePeakMeter
    float integratedLufs = 0.0f;  // LUFS (R128), see R128LoudnessMeter; −inf when nothing passes the gates
};

// Feeds `frameCount` frames of de-interleaved samples, block by block while they are in cache,
// through a TruePeakMeter and an R128LoudnessMeter. Never fails; safe from any number of threads.
DeliveryFigures measureDelivery(const float* const* channels, int channelCount, int64_t frameCount,
                                double sampleRate);

}  // namespace korvanta
