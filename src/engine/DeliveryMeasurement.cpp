#include "engine/DeliveryMeasurement.h"

#include <algorithm>
#include <vector>

#include "engine/AudioStats.h"
#include "engine/R128LoudnessMeter.h"
#include "engine/TruePeakMeter.h"

namespace korvanta {

DeliveryFigures measureDelivery(const float* const* channels, int channelCount, int64_t frameCount,
                                double sampleRate) {
    const int count = std::max(channelCount, 0);
    TruePeakMeter peak;
    R128LoudnessMeter loudness;
    peak.prepare(count, sampleRate);
    loudness.prepare(count, sampleRate);
    // The whole window is in memory: the loudness recursion runs on several stretches at once.
    loudness.processWhole(channels, frameCount);
    std::vector<const float*> block(static_cast<size_t>(count));
    constexpr int64_t kFrames = 16384;
    for (int64_t done = 0; done < frameCount; done += kFrames) {
        const int64_t n = std::min(kFrames, frameCount - done);
        for (int c = 0; c < count; ++c) block[static_cast<size_t>(c)] = channels[c] + done;
        peak.process(block.data(), n);
    }
    return DeliveryFigures{peak.truePeakDb(), static_cast<float>(loudness.integratedLufs())};
}

void addDeliveryFigures(AudioStats& stats, const float* const* channels, int channelCount,
                        int64_t frameCount, double sampleRate) {
    const DeliveryFigures figures = measureDelivery(channels, channelCount, frameCount, sampleRate);
    stats.truePeak = figures.truePeakDb;
    stats.lufsR128 = figures.integratedLufs;
}

}  // namespace korvanta
