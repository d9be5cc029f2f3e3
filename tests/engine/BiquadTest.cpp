// Biquad sections: the array filter against a plain double-precision recursion, the peaking
// design against its analytic response and against what the filter really does to a sine.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/Biquad.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

// y[n] = (b0·x[n] + b1·x[n−1] + b2·x[n−2] − a1·y[n−1] − a2·y[n−2]) / a0 in double, missing
// coefficients zero.
std::vector<double> naiveBiquad(const std::vector<float>& x, std::vector<double> b, std::vector<double> a) {
    b.resize(3, 0.0);
    a.resize(3, 0.0);
    std::vector<double> y(x.size());
    for (size_t n = 0; n < x.size(); ++n) {
        const double x1 = n >= 1 ? x[n - 1] : 0.0, x2 = n >= 2 ? x[n - 2] : 0.0;
        const double y1 = n >= 1 ? y[n - 1] : 0.0, y2 = n >= 2 ? y[n - 2] : 0.0;
        y[n] = (b[0] * x[n] + b[1] * x1 + b[2] * x2 - a[1] * y1 - a[2] * y2) / a[0];
    }
    return y;
}

TEST(BiquadOverArray, MatchesPlainRecursionWithUnnormalisedAndMissingCoefficients) {
    const std::vector<float> x = makeNoise(48000, 1, 0.05, 0.8f, 3).channels[0];
    const struct {
        std::vector<float> b, a;
    } cases[] = {
        {{0.5f, 0.2f, -0.1f}, {2.0f, -0.5f, 0.25f}},  // a0 ≠ 1: everything is divided by it
        {{1.0f}, {2.0f, 0.4f}},                       // b1, b2 and a2 missing: zero
        {{0.3f, -0.6f, 0.3f}, {1.0f, -1.6f, 0.7f}},   // a resonant section
    };
    for (const auto& c : cases) {
        const std::vector<float> y = biquadOverArray(x, c.b, c.a);
        const std::vector<double> ref = naiveBiquad(x, {c.b.begin(), c.b.end()}, {c.a.begin(), c.a.end()});
        ASSERT_EQ(y.size(), x.size());  // a new array of the input's length
        for (size_t n = 0; n < x.size(); ++n) {
            // Single-precision rounding only; a wrong sign or a missed division is off by far more.
            ASSERT_NEAR(y[n], ref[n], 1e-5 * (1.0 + std::fabs(ref[n]))) << "n " << n;
        }
    }
}

TEST(BiquadPeaking, PeaksAtItsGainAndLeavesDistantFrequenciesAlone) {
    const struct {
        float frequency, gainDb, q, sampleRate;
    } cases[] = {{1000, 6, 1, 44100}, {60, -9, 0.7f, 48000}, {12000, 3.5f, 2, 96000}};
    for (const auto& c : cases) {
        const auto k = BiquadCoefficients::peaking(c.frequency, c.gainDb, c.q, c.sampleRate);
        // The cookbook peaking filter has exactly `gain` at its centre and 0 dB at DC.
        EXPECT_NEAR(k.magnitudeDb(c.frequency, c.sampleRate), c.gainDb, 1e-3) << c.frequency;
        EXPECT_NEAR(k.magnitudeDb(0.0, c.sampleRate), 0.0, 1e-3) << c.frequency;
    }
}

TEST(BiquadPeaking, FilteringASineChangesItsLevelByTheAnalyticMagnitude) {
    // Guards the sign convention of a1/a2 shared by the design, the response and the filter.
    const double rate = 48000;
    const auto k = BiquadCoefficients::peaking(2000, 8, 1.5f, rate);
    for (double f : {500.0, 2000.0, 5000.0}) {
        std::vector<float> x = makeSine(rate, 1, 1.0, f, 0.25f).channels[0];
        FilterState state;
        processBlock(k, state, x.data(), x.size());
        float peak = 0;  // after the transient has died away
        for (size_t n = x.size() / 2; n < x.size(); ++n) peak = std::max(peak, std::fabs(x[n]));
        EXPECT_NEAR(20 * std::log10(peak / 0.25), k.magnitudeDb(f, rate), 0.02) << f;
    }
}

TEST(BiquadProcessBlock, TwoPiecesEqualOnePieceAndTheSampleByRoutine) {
    const auto k = BiquadCoefficients::peaking(300, -5, 0.9f, 44100);
    const std::vector<float> x = makeNoise(44100, 1, 0.1, 0.5f, 9).channels[0];

    std::vector<float> whole = x, pieces = x, bySample = x;
    FilterState a, b, c;
    processBlock(k, a, whole.data(), whole.size());
    processBlock(k, b, pieces.data(), 1234);
    processBlock(k, b, pieces.data() + 1234, pieces.size() - 1234);
    for (float& v : bySample) v = processSample(k, c, v);

    // The history carries across calls, bit for bit.
    EXPECT_EQ(whole, pieces);
    EXPECT_EQ(whole, bySample);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
}

}  // namespace
}  // namespace korvanta::test
