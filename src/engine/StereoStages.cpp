#include "engine/StereoStages.h"

#include <algorithm>
#include <cmath>

namespace korvanta {

void applyStereoWidth(PcmBuffer& buffer, float sampleRate, float width) {
    if (buffer.channelCount() != 2) return;
    const float w0 = 3141.5925f / sampleRate;
    const float cosW0 = std::cos(w0);
    const float alpha = std::sin(w0) / 1.414f;
    const float a0 = 1.0f + alpha;
    const float b0 = ((1.0f + cosW0) / 2.0f) / a0;
    const float b1 = -(1.0f + cosW0) / a0;
    const float b2 = b0;
    const float a1 = -2.0f * cosW0 / a0;
    const float a2 = (1.0f - alpha) / a0;

    float* left = buffer.channel(0);
    float* right = buffer.channel(1);
    float x1 = 0.0f, x2 = 0.0f, y1 = 0.0f, y2 = 0.0f;
    const uint32_t frames = buffer.frameLength();
    for (uint32_t i = 0; i < frames; ++i) {
        const float mid = (left[i] + right[i]) * 0.5f;
        const float side = (left[i] - right[i]) * 0.5f;
        const float highSide = b0 * side + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = side;
        y2 = y1;
        y1 = highSide;
        const float s = width * highSide;
        float l = mid + s;
        float r = mid - s;
        const float m = std::max(std::fabs(l), std::fabs(r));
        if (m > 0.9f) {
            const float scale = 0.9f / m;
            l *= scale;
            r *= scale;
        }
        left[i] = l;
        right[i] = r;
    }
}

void applyMidEnhancement(PcmBuffer& buffer, float midAmount) {
    if (buffer.channelCount() != 2) return;
    float* __restrict left = buffer.channel(0);
    float* __restrict right = buffer.channel(1);
    const uint32_t frames = buffer.frameLength();
    for (uint32_t i = 0; i < frames; ++i) {
        const float mid = (left[i] + right[i]) * 0.5f * midAmount;
        const float side = (left[i] - right[i]) * 0.5f;
        left[i] = mid + side;
        right[i] = mid - side;
    }
}

void applyMasterGain(PcmBuffer& buffer, float gainDb) {
    const float factor = exp10f(gainDb / 20.0f);
    const uint32_t frames = buffer.frameLength();
    for (int c = 0; c < buffer.channelCount(); ++c) {
        float* samples = buffer.channel(c);
        for (uint32_t i = 0; i < frames; ++i) samples[i] *= factor;
    }
}

void applySoftClip(PcmBuffer& buffer) {
    const uint32_t frames = buffer.frameLength();
    for (int c = 0; c < buffer.channelCount(); ++c) {
        float* samples = buffer.channel(c);
        for (uint32_t i = 0; i < frames; ++i) {
            const float x = samples[i];
            if (x > 0.95f) samples[i] = 0.95f + 0.05f * std::tanh((x - 0.95f) * 3.0f);
            else if (x < -0.95f) samples[i] = -0.95f - 0.05f * std::tanh((-0.95f - x) * 3.0f);
        }
    }
}

}  // namespace korvanta
