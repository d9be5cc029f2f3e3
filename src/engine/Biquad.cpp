#include "engine/Biquad.h"

#include <cmath>
#include <complex>

namespace korvanta {

BiquadCoefficients BiquadCoefficients::peaking(float frequencyHz, float gainDb, float q,
                                               float sampleRate) {
    // Every step in single precision, in the equaliser's own order, so that a filter designed
    // here is bit-identical to the one the equaliser runs.
    const float w0 = 6.2831855f * frequencyHz / sampleRate;
    const float a = exp10f(gainDb / 40.0f);
    float sinW0 = 0.0f;
    float cosW0 = 0.0f;
    sincosf(w0, &sinW0, &cosW0);
    const float alpha = sinW0 / (2.0f * q);
    const float a0 = 1.0f + alpha / a;

    BiquadCoefficients k;
    k.b0 = (1.0f + alpha * a) / a0;
    k.b1 = -2.0f * cosW0 / a0;
    k.b2 = (1.0f - alpha * a) / a0;
    k.a1 = -2.0f * cosW0 / a0;
    k.a2 = (1.0f - alpha / a) / a0;
    return k;
}

double BiquadCoefficients::magnitudeDb(double frequencyHz, double sampleRate) const {
    const double w = 2.0 * M_PI * frequencyHz / sampleRate;
    const std::complex<double> z1 = std::polar(1.0, -w);  // z^-1 on the unit circle
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> numerator = double(b0) + double(b1) * z1 + double(b2) * z2;
    const std::complex<double> denominator = 1.0 + double(a1) * z1 + double(a2) * z2;
    return 20.0 * std::log10(std::abs(numerator) / std::abs(denominator));
}

void processBlock(const BiquadCoefficients& k, FilterState& state, float* samples, size_t count) {
    // The history lives in registers for the length of the block; the arithmetic is exactly that
    // of processSample().
    float x1 = state.x1, x2 = state.x2, y1 = state.y1, y2 = state.y2;
    for (size_t i = 0; i < count; ++i) {
        const float x = samples[i];
        const float y = k.b0 * x + k.b1 * x1 + k.b2 * x2 - k.a1 * y1 - k.a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        samples[i] = y;
    }
    state = FilterState{x1, x2, y1, y2};
}

std::vector<float> biquadOverArray(std::span<const float> x, std::span<const float> b,
                                   std::span<const float> a) {
    const auto coefficient = [](std::span<const float> c, size_t i) {
        return i < c.size() ? c[i] : 0.0f;
    };
    // A missing or zero a0 cannot normalise anything; the coefficients are then used as given
    // (a0 taken as 1) rather than turning every output into infinity or NaN.
    float a0 = coefficient(a, 0);
    if (a0 == 0.0f) a0 = 1.0f;

    BiquadCoefficients k;
    k.b0 = coefficient(b, 0) / a0;
    k.b1 = coefficient(b, 1) / a0;
    k.b2 = coefficient(b, 2) / a0;
    k.a1 = coefficient(a, 1) / a0;
    k.a2 = coefficient(a, 2) / a0;

    std::vector<float> y(x.begin(), x.end());
    FilterState state;
    processBlock(k, state, y.data(), y.size());
    return y;
}

}  // namespace korvanta
