// The display profile and the 12-band levels of single buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "reference/AverageSpectrum.h"
#include "reference/SpectralAnalyzer.h"
#include "support/TestAudio.h"

namespace korvanta {
namespace {

std::unique_ptr<PcmBuffer> bufferOf(const test::Signal& signal) {
    const auto frames = static_cast<uint32_t>(signal.frameCount());
    auto buffer = PcmBuffer::allocate({signal.sampleRate, signal.channelCount()}, frames);
    for (int c = 0; c < signal.channelCount(); ++c) {
        std::copy(signal.channels[c].begin(), signal.channels[c].end(), buffer->channel(c));
    }
    buffer->setFrameLength(frames);
    return buffer;
}

size_t argmax(const std::vector<float>& v) {
    return static_cast<size_t>(std::max_element(v.begin(), v.end()) - v.begin());
}

TEST(AnalyzeBuffer, HundredLogSpacedPointsFrom20HzTo20kHz) {
    auto buffer = bufferOf(test::makeNoise(44100.0, 2, 5.0, 0.5f, 11));
    const SpectralProfile p = analyzeBuffer(*buffer, "noise.wav chunk 1/1");
    ASSERT_EQ(p.frequencies.size(), 100u);
    ASSERT_EQ(p.magnitudes.size(), 100u);
    EXPECT_NEAR(p.frequencies.front(), 20.0f, 1e-3f);
    EXPECT_NEAR(p.frequencies.back(), 20000.0f, 1.0f);
    for (size_t i = 1; i < p.frequencies.size(); ++i) {
        // Constant ratio 10^(3/99) between neighbours.
        EXPECT_NEAR(p.frequencies[i] / p.frequencies[i - 1], std::pow(10.0, 3.0 / 99.0), 1e-5);
    }
    EXPECT_EQ(p.referenceFileName, "noise.wav chunk 1/1");
    EXPECT_TRUE(p.spectrum12Band.empty()) << "a buffer profile carries no band spectrum";
    const auto age = std::chrono::system_clock::now() - p.dateCreated;
    EXPECT_GE(age, std::chrono::seconds(0));
    EXPECT_LT(age, std::chrono::seconds(60)) << "the profile is dated now";
}

TEST(AnalyzeBuffer, PointMagnitudeIsSevenBinMeanInDecibels) {
    // Check three points against the averaged spectrum directly, the lowest one included.
    auto buffer = bufferOf(test::makeNoise(44100.0, 1, 2.0, 0.8f, 12));
    const auto avg = averageMagnitudeSpectrum(*buffer);
    ASSERT_TRUE(avg.has_value());
    const SpectralProfile p = analyzeBuffer(*buffer, "x");
    for (size_t i : {size_t{0}, size_t{50}, size_t{99}}) {
        const auto bin = static_cast<int>(p.frequencies[i] * 8192.0f / 44100.0f);
        double sum = 0.0;
        int count = 0;
        for (int k = std::max(bin - 3, 0); k <= std::min(bin + 3, 4095); ++k, ++count) sum += (*avg)[k];
        EXPECT_NEAR(p.magnitudes[i], 20.0 * std::log10(sum / count), 1e-3) << "point " << i;
    }
}

TEST(AnalyzeBuffer, NoChannelGivesEmptyResults) {
    auto buffer = PcmBuffer::allocate({44100.0, 0}, 50000);
    ASSERT_NE(buffer, nullptr);
    const SpectralProfile p = analyzeBuffer(*buffer, "none");
    EXPECT_TRUE(p.frequencies.empty());
    EXPECT_TRUE(p.magnitudes.empty());
    EXPECT_EQ(p.referenceFileName, "none");
    EXPECT_EQ(analyzeBands(*buffer, kBandCentres, 44100.0f), std::vector<float>(12, 0.0f));
}

TEST(AnalyzeBands, SineAtEachCentreRaisesThatBandMost) {
    for (double rate : {44100.0, 48000.0}) {
        for (size_t b = 0; b < kBandCentres.size(); ++b) {
            if (kBandCentres[b] >= rate / 2.0) continue;
            auto buffer = bufferOf(test::makeSine(rate, 1, 2.0, kBandCentres[b], 0.5f));
            const std::vector<float> levels = analyzeBands(*buffer, kBandCentres, static_cast<float>(rate));
            ASSERT_EQ(levels.size(), 12u);
            // The 16 kHz band (11.2 … 20.8 kHz) and the 20 kHz band (14 kHz up) overlap and hold
            // about as many bins each, so a sine at either centre puts both on top, in an order
            // that depends on the rate; every other band has the sine to itself.
            if (b >= 10) {
                std::vector<float> sorted = levels;
                std::sort(sorted.begin(), sorted.end(), std::greater<>());
                EXPECT_TRUE(levels[10] >= sorted[1] && levels[11] >= sorted[1])
                    << "sine at " << kBandCentres[b] << " Hz, rate " << rate;
            } else {
                EXPECT_EQ(argmax(levels), b) << "sine at " << kBandCentres[b] << " Hz, rate " << rate;
            }
            // The band mean dilutes the sine as bands widen (about 6 dB an octave), yet a −6 dBFS
            // sine still reads far above silence (0) in its own band.
            EXPECT_GT(levels[b], 4.0f) << "sine at " << kBandCentres[b] << " Hz, rate " << rate;
            for (float s : levels) {
                EXPECT_GE(s, 0.0f);
                EXPECT_LE(s, 10.0f);
            }
        }
    }
}

TEST(AnalyzeBands, DecibelToScaleMappingTable) {
    // A DC level c makes bin 0 = 2·c·Σw with Σw = 0.8165·8192; at a rate of 1 MHz the 32 Hz band
    // holds bin 0 alone, so its level in dB is set exactly by c.
    const double binZeroPerUnit = 2.0 * 0.8165 * 8192.0;
    struct Case {
        double db;
        float scale;
    };
    // (dB + 20) / 70 · 10, clamped: −20 dB or less is 0, +50 dB or more is 10, 7 dB per step.
    const Case cases[] = {{-60.0, 0.0f}, {-20.0, 0.0f}, {-13.0, 1.0f}, {15.0, 5.0f},
                          {43.0, 9.0f},  {50.0, 10.0f}, {70.0, 10.0f}};
    for (const Case& c : cases) {
        const auto level = static_cast<float>(std::pow(10.0, c.db / 20.0) / binZeroPerUnit);
        auto buffer = bufferOf(test::makeSignal(1e6, 1, 8192, [&](int, size_t) { return level; }));
        const float centre = 32.0f;
        const std::vector<float> s = analyzeBands(*buffer, std::span(&centre, 1), 1e6f);
        ASSERT_EQ(s.size(), 1u);
        EXPECT_NEAR(s[0], c.scale, 2e-3f) << c.db << " dB";
    }
}

TEST(AnalyzeBands, BandsAboveTheLastBinReadZeroAndNothingBreaks) {
    // At 22.05 kHz the lower edges of the 16 kHz and 20 kHz bands (11.2 and 14 kHz) lie beyond the
    // 11.025 kHz Nyquist bin: those bands hold no bin and read 0; the 12 kHz band (8.4 kHz up)
    // still has bins and reads the loud noise.
    auto buffer = bufferOf(test::makeNoise(22050.0, 1, 3.0, 0.9f, 14));
    const std::vector<float> levels = analyzeBands(*buffer, kBandCentres, 22050.0f);
    ASSERT_EQ(levels.size(), 12u);
    EXPECT_EQ(levels[10], 0.0f);
    EXPECT_EQ(levels[11], 0.0f);
    EXPECT_GT(levels[9], 5.0f);

    // A rate that is not a positive number leaves every band at 0 instead of reading anywhere.
    for (float rate : {0.0f, -44100.0f, std::nanf(""), INFINITY}) {
        EXPECT_EQ(analyzeBands(*buffer, kBandCentres, rate), std::vector<float>(12, 0.0f)) << rate;
    }
}

}  // namespace
}  // namespace korvanta
