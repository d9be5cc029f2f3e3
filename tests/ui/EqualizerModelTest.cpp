#include "ui/eq/EqualizerModel.h"

#include <gtest/gtest.h>

#include "ui/eq/EqualizerCurve.h"

namespace korvanta {
namespace {

EQSettings flat(bool enabled = true) {
    EQSettings s;
    s.isEnabled = enabled;
    return s;
}

TEST(EqualizerEstimates, LoudnessAndPeakEstimatesWeighBandsByFrequencyAndQ) {
    EQSettings s = flat();
    EXPECT_EQ(displayLevelEstimate(s), 0.0f);
    s.masterGain = 3.0f;
    EXPECT_EQ(displayLevelEstimate(s), 0.0f) << "the master gain is not part of the estimate";

    s = flat();
    s.bands[0].gain = 4.0f;  // 32 Hz, q 0.7: 1/1.7 × 4 × 2.5 × 0.25
    EXPECT_NEAR(displayLevelEstimate(s), 4.0 / 1.7 * 2.5 * 0.25, 1e-5);
    EXPECT_NEAR(gainLevelEstimate(s), 4.0 * 0.15, 1e-5);
    s.bands[5].gain = -2.0f;  // 1 kHz, q 1: weights 1.2 and 0.35
    EXPECT_NEAR(displayLevelEstimate(s), 4.0 / 1.7 * 2.5 * 0.25 - 2.0 / 2.0 * 1.2 * 0.25, 1e-5);
    EXPECT_NEAR(gainLevelEstimate(s), 4.0 * 0.15 - 2.0 * 0.35, 1e-5);
    s.bands[5].gain = 0.05f;  // under either threshold for the loudness, over it for the peak
    EXPECT_NEAR(displayLevelEstimate(s), 4.0 / 1.7 * 2.5 * 0.25, 1e-5);
    EXPECT_NEAR(gainLevelEstimate(s), 4.0 * 0.15 + 0.05 * 0.35, 1e-5);

    EQSettings wide = flat();
    wide.stereoEnhancementEnabled = true;
    wide.stereoWidth = 1.5f;
    wide.midEnhancementEnabled = true;
    wide.midAmount = 1.2f;
    EXPECT_NEAR(displayLevelEstimate(wide), 0.5 * 0.5 + 0.2 * 0.3, 1e-5);
    EXPECT_NEAR(gainLevelEstimate(wide), 0.5 * 0.3 + 0.2 * 0.25, 1e-5);
}

TEST(EqualizerEstimates, AutomaticGainReachesTheTargetButKeepsThePeakAtMinusPointTwo) {
    struct Case {
        const char* what;
        float masterGain, peak, lufs, target, expected;
    } cases[] = {
        {"loud target, peak allows +0.8", 0.0f, -1.0f, -14.0f, -8.0f, 0.8f},
        {"quiet target: down to it", 0.0f, -1.0f, -14.0f, -16.0f, -2.0f},
        {"room enough: the target itself", 0.0f, -6.0f, -14.0f, -12.0f, 2.0f},
        {"current gain clips: back to the ceiling", 1.0f, -1.0f, -14.0f, -20.0f, 0.8f},
        {"never beyond +10", 0.0f, -30.0f, -40.0f, -8.0f, 10.0f},
        {"never below -10", 0.0f, 12.0f, -14.0f, -8.0f, -10.0f},
    };
    for (const auto& c : cases) {
        EQSettings s = flat();
        s.masterGain = c.masterGain;
        EXPECT_NEAR(automaticMasterGain(s, c.peak, c.lufs, c.target), c.expected, 1e-4) << c.what;
    }
    // The bands' estimated peak counts only while the equaliser is on.
    EQSettings boosted = flat(true);
    boosted.bands[5].gain = 2.0f;  // +0.7 dB estimated peak
    EXPECT_NEAR(automaticMasterGain(boosted, -1.0f, -14.0f, -8.0f), 0.1f, 1e-4);
    boosted.isEnabled = false;
    EXPECT_NEAR(automaticMasterGain(boosted, -1.0f, -14.0f, -8.0f), 0.8f, 1e-4);
}

TEST(EqualizerCurveResponse, TheCurveIsTheSumOfTheEnginesBandResponses) {
    const std::vector<float> frequencies = {100.0f, 1000.0f, 10000.0f};
    const std::vector<float> qs = {1.0f, 1.0f, 1.0f};
    const std::vector<float> gains = {0.0f, 6.0f, -4.0f};
    EXPECT_NEAR(equaliserResponseDb(frequencies, gains, qs, 1000.0, 48000.0), 6.0, 0.05);
    EXPECT_NEAR(equaliserResponseDb(frequencies, gains, qs, 10000.0, 48000.0), -4.0, 0.05);
    const double between = equaliserResponseDb(frequencies, gains, qs, 3162.0, 48000.0);
    EXPECT_LT(between, 3.0);
    EXPECT_GT(between, -2.0);
    // Positions: band centres at the points, geometric steps between them.
    EXPECT_DOUBLE_EQ(frequencyAtPosition(frequencies, 0.0, 200.0), 100.0);
    EXPECT_NEAR(frequencyAtPosition(frequencies, 50.0, 200.0), 316.2278, 1e-3);
    EXPECT_DOUBLE_EQ(frequencyAtPosition(frequencies, 100.0, 200.0), 1000.0);
    EXPECT_NEAR(frequencyAtPosition(frequencies, 200.0, 200.0), 10000.0, 1e-6);
}

}  // namespace
}  // namespace korvanta
