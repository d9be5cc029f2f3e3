// Second-order IIR sections: a coefficient design is a value, its history another.
#pragma once

#include <span>
#include <vector>

namespace korvanta {

// Coefficients already divided by a0.
struct BiquadCoefficients {
    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;

    // Peaking filter of the audio-EQ cookbook, computed in single precision exactly as the
    // equaliser does (w0 = 6.2831855 · frequency / sampleRate, A = 10^(gain/40)).
    static BiquadCoefficients peaking(float frequencyHz, float gainDb, float q, float sampleRate);

    // Magnitude response in dB at `frequencyHz`, evaluated analytically in double precision.
    double magnitudeDb(double frequencyHz, double sampleRate) const;

    friend bool operator==(const BiquadCoefficients&, const BiquadCoefficients&) = default;
};

// One biquad history: the last two inputs and outputs.
struct FilterState {
    float x1 = 0.0f, x2 = 0.0f, y1 = 0.0f, y2 = 0.0f;
    friend bool operator==(const FilterState&, const FilterState&) = default;
};

// Direct form I, one sample.
inline float processSample(const BiquadCoefficients& k, FilterState& s, float x) {
    const float y = k.b0 * x + k.b1 * s.x1 + k.b2 * s.x2 - k.a1 * s.y1 - k.a2 * s.y2;
    s.x2 = s.x1;
    s.x1 = x;
    s.y2 = s.y1;
    s.y1 = y;
    return y;
}

// Filters a whole block in place, carrying the history in `state`.
void processBlock(const BiquadCoefficients& k, FilterState& state, float* samples, size_t count);

// "Biquad over an array": y[n] = (b0·x[n] + b1·x[n−1] + b2·x[n−2] − a1·y[n−1] − a2·y[n−2]) / a0
// from zero history, every coefficient divided by a0 and a missing one counting as 0. Returns a
// new array of x's length.
std::vector<float> biquadOverArray(std::span<const float> x, std::span<const float> b,
                                   std::span<const float> a);

}  // namespace korvanta
