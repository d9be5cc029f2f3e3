// The averaged spectrum against an independent double-precision DFT, and its framing rules.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "reference/AverageSpectrum.h"

namespace korvanta {
namespace {

constexpr int kN = kSpectrumFftSize;

std::vector<float> randomFrame(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(count);
    for (float& v : x) v = dist(rng);
    return x;
}

// The packed magnitudes of one 8192-sample frame computed straight from the definitions: the
// normalised Hann window in double precision, X[k] = Σ w[n]·x[n]·e^(−2πi·nk/N), bin 0 =
// √((2·X[0])² + (2·X[N/2])²), bin k = 2·|X[k]|.
std::vector<double> naivePackedSpectrum(const float* x) {
    std::vector<double> windowed(kN), cosTable(kN), sinTable(kN);
    for (int n = 0; n < kN; ++n) {
        const double angle = 2.0 * M_PI * n / kN;
        windowed[n] = 0.8165 * (1.0 - std::cos(angle)) * x[n];
        cosTable[n] = std::cos(angle);
        sinTable[n] = std::sin(angle);
    }
    std::vector<double> re(kN / 2 + 1), im(kN / 2 + 1);
    for (int k = 0; k <= kN / 2; ++k) {
        double sr = 0.0, si = 0.0;
        for (int n = 0; n < kN; ++n) {
            const int idx = static_cast<int>((static_cast<int64_t>(n) * k) % kN);
            sr += windowed[n] * cosTable[idx];
            si -= windowed[n] * sinTable[idx];
        }
        re[k] = sr;
        im[k] = si;
    }
    std::vector<double> packed(kN / 2);
    packed[0] = std::hypot(2.0 * re[0], 2.0 * re[kN / 2]);
    for (int k = 1; k < kN / 2; ++k) packed[k] = 2.0 * std::hypot(re[k], im[k]);
    return packed;
}

std::unique_ptr<PcmBuffer> bufferOf(const std::vector<std::vector<float>>& channels,
                                    double sampleRate = 44100.0) {
    const auto frames = static_cast<uint32_t>(channels.empty() ? 0 : channels[0].size());
    auto buffer = PcmBuffer::allocate({sampleRate, static_cast<int>(channels.size())}, frames);
    for (size_t c = 0; c < channels.size(); ++c) {
        std::copy(channels[c].begin(), channels[c].end(), buffer->channel(static_cast<int>(c)));
    }
    buffer->setFrameLength(frames);
    return buffer;
}

TEST(AverageSpectrum, OneFrameMatchesNaiveDftWithPackedDcNyquistAndDoubling) {
    // A frame with a DC offset and an alternating (Nyquist) component on top of noise, so that
    // both packed terms of bin 0 are large and a mistake in either shows.
    std::vector<float> x = randomFrame(kN, 20240611);
    for (int n = 0; n < kN; ++n) x[n] = 0.5f * x[n] + 0.3f + ((n % 2) ? -0.2f : 0.2f);

    const auto avg = averageMagnitudeSpectrum(x.data(), x.size());
    ASSERT_TRUE(avg.has_value());
    ASSERT_EQ(avg->size(), static_cast<size_t>(kSpectrumBinCount));
    const std::vector<double> expected = naivePackedSpectrum(x.data());

    // Single-precision FFT of 8192 points: errors of a few 1e-7 of the spectrum's largest term.
    double peak = 0.0;
    for (double v : expected) peak = std::max(peak, v);
    const double tolerance = 2e-5 * peak;
    int mismatches = 0;
    for (int k = 0; k < kSpectrumBinCount; ++k) {
        if (std::fabs((*avg)[k] - expected[k]) > tolerance && ++mismatches <= 5) {
            ADD_FAILURE() << "bin " << k << ": " << (*avg)[k] << " vs " << expected[k];
        }
    }
    EXPECT_EQ(mismatches, 0);
    // Bin 0 is dominated by the DC and Nyquist terms: it must not be DC alone.
    double dc = 0.0;
    for (int n = 0; n < kN; ++n) dc += 0.8165 * (1.0 - std::cos(2.0 * M_PI * n / kN)) * x[n];
    EXPECT_GT((*avg)[0], 1.1 * 2.0 * std::fabs(dc)) << "bin 0 must include the Nyquist term";
}

TEST(AverageSpectrum, FrameLimitTable) {
    struct Case {
        int64_t frames;
        int64_t limit;
    };
    // M = max(trunc((N − 8192) / 2048), 1): short blocks still divide by 1; a 5-second chunk at
    // 44.1 kHz takes 103 frames, a 10-second one 211.
    const Case cases[] = {{0, 1},          {100, 1},        {8191, 1},     {8192, 1},
                          {10239, 1},      {10240, 1},      {12287, 1},    {12288, 2},
                          {220500, 103},   {441000, 211},   {480000, 230}};
    for (const Case& c : cases) {
        EXPECT_EQ(spectrumFrameLimit(c.frames), c.limit) << "frames " << c.frames;
    }
}

TEST(AverageSpectrum, AveragesFramesEvery2048SamplesAndDividesByFrameLimit) {
    // 3 frames (M = 3): N = 8192 + 3·2048 + 100. The average must equal the mean of the three
    // single-frame spectra at offsets 0, 2048 and 4096.
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

TEST(AverageSpectrum, LastWholeFrameBeyondTheLimitIsNotUsed) {
    // N = 12288 gives M = 2: frames at 0 and 2048 cover samples 0 … 10239. A frame at 4096 would
    // still fit but must not be taken, so a burst confined to samples 10240 … 12287 is invisible.
    std::vector<float> x(12288, 0.0f);
    for (size_t n = 10240; n < x.size(); ++n) x[n] = std::sin(0.3f * static_cast<float>(n));
    const auto avg = averageMagnitudeSpectrum(x.data(), x.size());
    ASSERT_TRUE(avg.has_value());
    for (float v : *avg) ASSERT_EQ(v, 0.0f);
}

TEST(AverageSpectrum, BlockShorterThanOneFrameGivesZeros) {
    const std::vector<float> x = randomFrame(kN - 1, 3);
    const auto avg = averageMagnitudeSpectrum(x.data(), x.size());
    ASSERT_TRUE(avg.has_value());
    ASSERT_EQ(avg->size(), static_cast<size_t>(kSpectrumBinCount));
    for (float v : *avg) ASSERT_EQ(v, 0.0f) << "no frame fits, so nothing may be summed";
}

TEST(AverageSpectrum, BufferUsesChannelZeroOnlyAndNeedsAChannel) {
    // Silent left channel, loud right channel: only channel 0 counts, so the spectrum is zero.
    auto stereo = bufferOf({std::vector<float>(20000, 0.0f), randomFrame(20000, 5)});
    const auto avg = averageMagnitudeSpectrum(*stereo);
    ASSERT_TRUE(avg.has_value());
    for (float v : *avg) ASSERT_EQ(v, 0.0f);

    // Loud left channel: the buffer form equals the sample form of channel 0 over the frame length.
    auto loudLeft = bufferOf({randomFrame(20000, 6), std::vector<float>(20000, 0.0f)});
    loudLeft->setFrameLength(15000);
    const auto fromBuffer = averageMagnitudeSpectrum(*loudLeft);
    const auto fromSamples = averageMagnitudeSpectrum(loudLeft->channel(0), 15000);
    ASSERT_TRUE(fromBuffer && fromSamples);
    EXPECT_EQ(*fromBuffer, *fromSamples);

    auto none = PcmBuffer::allocate({44100.0, 0}, 10000);
    ASSERT_NE(none, nullptr);
    EXPECT_FALSE(averageMagnitudeSpectrum(*none).has_value()) << "no float data: no spectrum";
}

}  // namespace
}  // namespace korvanta
