// The averaged spectrum of one buffer (against an independent double-precision DFT), the display
// profile built from it and the 12-band levels.
#include <gtest/gtest.h>

#include <complex>
#include <random>

#include "SignalBuffer.h"
#include "reference/AverageSpectrum.h"
#include "reference/SpectralAnalyzer.h"

namespace korvanta {
namespace {

using test::bufferOf;
constexpr int kN = kSpectrumFftSize;

std::vector<float> randomFrame(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(count);
    for (float& v : x) v = dist(rng);
    return x;
}

// One frame from the definitions: bin 0 = √((2·X[0])² + (2·X[N/2])²), bin k = 2·|X[k]|.
std::vector<double> naivePackedSpectrum(const float* x) {
    std::vector<double> windowed(kN);
    std::vector<std::complex<double>> twiddle(kN);  // e^(−2πi·n/N)
    for (int n = 0; n < kN; ++n) {
        windowed[n] = 0.8165 * (1.0 - std::cos(2.0 * M_PI * n / kN)) * x[n];
        twiddle[n] = std::polar(1.0, -2.0 * M_PI * n / kN);
    }
    auto dft = [&](int k) {
        std::complex<double> sum;
        for (int n = 0; n < kN; ++n) sum += windowed[n] * twiddle[static_cast<size_t>(int64_t{n} * k % kN)];
        return sum;
    };
    std::vector<double> packed(kN / 2);
    packed[0] = std::hypot(2.0 * dft(0).real(), 2.0 * dft(kN / 2).real());
    for (int k = 1; k < kN / 2; ++k) packed[k] = 2.0 * std::abs(dft(k));
    return packed;
}

void expectZeros(const std::optional<std::vector<float>>& avg) {
    ASSERT_TRUE(avg.has_value());
    ASSERT_EQ(avg->size(), static_cast<size_t>(kSpectrumBinCount));
    for (float v : *avg) ASSERT_EQ(v, 0.0f);
}

TEST(AverageSpectrum, OneFrameMatchesNaiveDftWithPackedDcNyquistAndDoubling) {
    // DC and an alternating (Nyquist) part over noise: both packed terms of bin 0 are large.
    std::vector<float> x = randomFrame(kN, 20240611);
    for (int n = 0; n < kN; ++n) x[n] = 0.5f * x[n] + 0.3f + ((n % 2) ? -0.2f : 0.2f);
    const auto avg = averageMagnitudeSpectrum(x.data(), x.size());
    ASSERT_TRUE(avg.has_value());
    ASSERT_EQ(avg->size(), static_cast<size_t>(kSpectrumBinCount));
    const std::vector<double> expected = naivePackedSpectrum(x.data());

    // Single-precision FFT of 8192 points: errors of a few 1e-7 of the largest term.
    const double tolerance = 2e-5 * *std::max_element(expected.begin(), expected.end());
    for (int k = 0; k < kSpectrumBinCount; ++k) ASSERT_NEAR((*avg)[k], expected[k], tolerance) << "bin " << k;
    double dc = 0.0;
    for (int n = 0; n < kN; ++n) dc += 0.8165 * (1.0 - std::cos(2.0 * M_PI * n / kN)) * x[n];
    EXPECT_GT((*avg)[0], 1.1 * 2.0 * std::fabs(dc)) << "bin 0 must include the Nyquist term";
}

TEST(AverageSpectrum, FrameLimitTable) {
    // max(trunc((N − 8192) / 2048), 1); 5 s at 44.1 kHz takes 103 frames, 10 s 211.
    const std::pair<int64_t, int64_t> cases[] = {{0, 1},        {100, 1},      {8191, 1},  {8192, 1},
                                                 {10239, 1},    {10240, 1},    {12287, 1}, {12288, 2},
                                                 {220500, 103}, {441000, 211}, {480000, 230}};
    for (const auto& [frames, limit] : cases) EXPECT_EQ(spectrumFrameLimit(frames), limit) << frames;
}

TEST(AverageSpectrum, AveragesFramesEvery2048SamplesAndDividesByFrameLimit) {
    // M = 3: the mean of the single-frame spectra at offsets 0, 2048 and 4096.
    const size_t total = kN + 3 * kSpectrumHopSize + 100;
    ASSERT_EQ(spectrumFrameLimit(static_cast<int64_t>(total)), 3);
    const std::vector<float> x = randomFrame(total, 7);
    const auto avg = averageMagnitudeSpectrum(x.data(), x.size());
    ASSERT_TRUE(avg.has_value());
    std::vector<double> mean(kSpectrumBinCount, 0.0);
    for (int j = 0; j < 3; ++j) {
        const auto one = averageMagnitudeSpectrum(x.data() + j * kSpectrumHopSize, kN);
        ASSERT_TRUE(one.has_value());
        for (int k = 0; k < kSpectrumBinCount; ++k) mean[k] += (*one)[k] / 3.0;
    }
    for (int k = 0; k < kSpectrumBinCount; k += 37) {
        EXPECT_NEAR((*avg)[k], mean[k], 1e-4 * (1.0 + mean[k])) << "bin " << k;
    }
}

TEST(AverageSpectrum, SamplesNoFrameWithinTheLimitCoversAreNotSummed) {
    // N = 12288: M = 2 frames cover samples 0 … 10239; a third would fit but must not be taken.
    std::vector<float> lateBurst(12288, 0.0f);
    for (size_t n = 10240; n < lateBurst.size(); ++n) lateBurst[n] = std::sin(0.3f * static_cast<float>(n));
    expectZeros(averageMagnitudeSpectrum(lateBurst.data(), lateBurst.size()));
    const std::vector<float> tooShort = randomFrame(kN - 1, 3);
    expectZeros(averageMagnitudeSpectrum(tooShort.data(), tooShort.size()));
}

TEST(AverageSpectrum, BufferUsesChannelZeroOnlyAndNeedsAChannel) {
    const std::vector<float> silence(20000);
    expectZeros(averageMagnitudeSpectrum(*bufferOf({44100.0, {silence, randomFrame(20000, 5)}})));

    auto loudLeft = bufferOf({44100.0, {randomFrame(20000, 6), silence}});
    loudLeft->setFrameLength(15000);
    const auto fromBuffer = averageMagnitudeSpectrum(*loudLeft);
    const auto fromSamples = averageMagnitudeSpectrum(loudLeft->channel(0), 15000);
    ASSERT_TRUE(fromBuffer && fromSamples);
    EXPECT_EQ(*fromBuffer, *fromSamples) << "channel 0 over the frame length";
}

TEST(AverageSpectrum, ABufferWithoutChannelsGivesNothingAnywhere) {
    auto buffer = PcmBuffer::allocate({44100.0, 0}, 50000);
    ASSERT_NE(buffer, nullptr);
    EXPECT_FALSE(averageMagnitudeSpectrum(*buffer).has_value());
    const SpectralProfile p = analyzeBuffer(*buffer, "none");
    EXPECT_TRUE(p.frequencies.empty());
    EXPECT_TRUE(p.magnitudes.empty());
    EXPECT_EQ(p.referenceFileName, "none");
    EXPECT_EQ(analyzeBands(*buffer, kBandCentres, 44100.0f), std::vector<float>(12, 0.0f));
}

TEST(AnalyzeBuffer, HundredLogSpacedPointsFrom20HzTo20kHz) {
    auto buffer = bufferOf(test::makeNoise(44100.0, 2, 5.0, 0.5f, 11));
    const SpectralProfile p = analyzeBuffer(*buffer, "noise.wav chunk 1/1");
    ASSERT_EQ(p.frequencies.size(), 100u);
    ASSERT_EQ(p.magnitudes.size(), 100u);
    EXPECT_NEAR(p.frequencies.front(), 20.0f, 1e-3f);
    EXPECT_NEAR(p.frequencies.back(), 20000.0f, 1.0f);
    for (size_t i = 1; i < p.frequencies.size(); ++i) {
        EXPECT_NEAR(p.frequencies[i] / p.frequencies[i - 1], std::pow(10.0, 3.0 / 99.0), 1e-5);
    }
    EXPECT_EQ(p.referenceFileName, "noise.wav chunk 1/1");
    EXPECT_TRUE(p.spectrum12Band.empty());
    const auto age = std::chrono::system_clock::now() - p.dateCreated;
    EXPECT_GE(age, std::chrono::seconds(0));
    EXPECT_LT(age, std::chrono::seconds(60)) << "the profile is dated now";
}

TEST(AnalyzeBuffer, PointMagnitudeIsSevenBinMeanInDecibels) {
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

TEST(AnalyzeBands, SineAtEachCentreRaisesThatBandMost) {
    for (double rate : {44100.0, 48000.0}) {
        for (size_t b = 0; b < kBandCentres.size() && kBandCentres[b] < rate / 2.0; ++b) {
            SCOPED_TRACE(testing::Message() << "sine at " << kBandCentres[b] << " Hz, rate " << rate);
            const std::vector<float> levels = analyzeBands(
                *bufferOf(test::makeSine(rate, 1, 2.0, kBandCentres[b], 0.5f)), kBandCentres, float(rate));
            ASSERT_EQ(levels.size(), 12u);
            // The 16 and 20 kHz bands overlap with about as many bins each: both are on top, in
            // either order.
            if (b >= 10) {
                std::vector<float> sorted = levels;
                std::sort(sorted.begin(), sorted.end(), std::greater<>());
                EXPECT_TRUE(levels[10] >= sorted[1] && levels[11] >= sorted[1]);
            } else {
                EXPECT_EQ(std::max_element(levels.begin(), levels.end()) - levels.begin(), ptrdiff_t(b));
            }
            EXPECT_GT(levels[b], 4.0f) << "a −6 dBFS sine reads far above silence in its band";
            for (float s : levels) {
                EXPECT_GE(s, 0.0f);
                EXPECT_LE(s, 10.0f);
            }
        }
    }
}

TEST(AnalyzeBands, DecibelToScaleMappingTable) {
    // At 1 MHz the 32 Hz band holds bin 0 alone, and a DC level c makes bin 0 = 2·c·Σw exactly.
    const double binZeroPerUnit = 2.0 * 0.8165 * 8192.0;
    // (dB + 20) / 70 · 10, clamped to 0 … 10.
    const std::pair<double, float> cases[] = {{-60.0, 0.0f}, {-20.0, 0.0f}, {-13.0, 1.0f}, {15.0, 5.0f},
                                              {43.0, 9.0f},  {50.0, 10.0f}, {70.0, 10.0f}};
    for (const auto& [db, scale] : cases) {
        const auto level = static_cast<float>(std::pow(10.0, db / 20.0) / binZeroPerUnit);
        auto buffer = bufferOf(test::makeSignal(1e6, 1, 8192, [&](int, size_t) { return level; }));
        const float centre = 32.0f;
        const std::vector<float> s = analyzeBands(*buffer, std::span(&centre, 1), 1e6f);
        ASSERT_EQ(s.size(), 1u);
        EXPECT_NEAR(s[0], scale, 2e-3f) << db << " dB";
    }
}

TEST(AnalyzeBands, BandsAboveTheLastBinReadZeroAndNothingBreaks) {
    // At 22.05 kHz the 16 and 20 kHz bands start beyond Nyquist; the 12 kHz band still has bins.
    auto buffer = bufferOf(test::makeNoise(22050.0, 1, 3.0, 0.9f, 14));
    const std::vector<float> levels = analyzeBands(*buffer, kBandCentres, 22050.0f);
    ASSERT_EQ(levels.size(), 12u);
    EXPECT_EQ(levels[10], 0.0f);
    EXPECT_EQ(levels[11], 0.0f);
    EXPECT_GT(levels[9], 5.0f);
    for (float rate : {0.0f, -44100.0f, std::nanf(""), INFINITY}) {
        EXPECT_EQ(analyzeBands(*buffer, kBandCentres, rate), std::vector<float>(12, 0.0f)) << rate;
    }
}

}  // namespace
}  // namespace korvanta
