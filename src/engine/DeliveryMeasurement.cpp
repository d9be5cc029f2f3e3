#include "engine/DeliveryMeasurement.h"

#include <algorithm>
#include <atomic>

#include "engine/AudioStats.h"

namespace korvanta {

namespace {

std::atomic<bool> deliveryEnabled{true};

}  // namespace

DeliveryFigures deliveryFigures(const TruePeakMeter& peak, const R128LoudnessMeter& loudness) {
    return DeliveryFigures{peak.truePeakDb(), static_cast<float>(loudness.integratedLufs())};
}

DeliveryFigures measureDelivery(const float* const* channels, int channelCount, int64_t frameCount,
                                double sampleRate) {
    const int count = std::max(channelCount, 0);
    TruePeakMeter peak;
    R128LoudnessMeter loudness;
    peak.prepare(count, sampleRate);
    loudness.prepare(count, sampleRate);
    // The whole song is in memory: the loudness recursion runs on stretches of it side by side
    // (within rounding of the figures of the same song fed in blocks).
    loudness.processWhole(channels, frameCount);
    peak.process(channels, frameCount);
    return deliveryFigures(peak, loudness);
}

void DeliveryMeter::prepare(int channelCount, double sampleRate) {
    channelCount_ = std::max(channelCount, 0);
    sampleRate_ = sampleRate;
    peak_.prepare(channelCount_, sampleRate_);
    loudness_.prepare(channelCount_, sampleRate_);
    frames_ = 0;
}

void DeliveryMeter::reset() {
    peak_.reset();
    loudness_.prepare(channelCount_, sampleRate_);
    frames_ = 0;
}

void DeliveryMeter::process(const float* const* channels, int64_t frameCount) {
    if (frameCount <= 0) return;
    peak_.process(channels, frameCount);
    loudness_.process(channels, frameCount);
    frames_ += frameCount;
}

DeliveryFigures DeliveryMeter::figures() const {
    return deliveryFigures(peak_, loudness_);
}

void setDeliveryFigures(AudioStats& stats, const DeliveryFigures& figures) {
    stats.truePeak = figures.truePeakDb;
    stats.lufsR128 = figures.integratedLufs;
}

void addDeliveryFigures(AudioStats& stats, const float* const* channels, int channelCount,
                        int64_t frameCount, double sampleRate) {
    setDeliveryFigures(stats, measureDelivery(channels, channelCount, frameCount, sampleRate));
}

bool deliveryFiguresEnabled() { return deliveryEnabled.load(std::memory_order_relaxed); }
void setDeliveryFiguresEnabled(bool enabled) { deliveryEnabled.store(enabled, std::memory_order_relaxed); }

}  // namespace korvanta
