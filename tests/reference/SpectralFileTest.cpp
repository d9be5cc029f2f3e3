// Chunked reading of files: chunk plan, chunk profiles, the 12-band spectrum of a file, and
// concurrent analyses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <thread>

#include "reference/AverageSpectrum.h"
#include "reference/SpectralAnalyzer.h"
#include "support/TestAudio.h"

namespace korvanta {
namespace {

std::unique_ptr<PcmBuffer> bufferOf(const test::Signal& signal, size_t first, size_t count) {
    auto buffer = PcmBuffer::allocate({signal.sampleRate, signal.channelCount()},
                                      static_cast<uint32_t>(count));
    for (int c = 0; c < signal.channelCount(); ++c) {
        std::copy_n(signal.channels[c].begin() + static_cast<ptrdiff_t>(first), count, buffer->channel(c));
    }
    buffer->setFrameLength(static_cast<uint32_t>(count));
    return buffer;
}

// A stereo signal whose three 10-second stretches sound different (a sine at 250 Hz, 2 kHz and
// 8 kHz over faint noise), so that a chunk taken from the wrong place changes the result.
test::Signal changingSignal(double rate, double seconds) {
    const test::Signal noise = test::makeNoise(rate, 2, seconds, 0.002f, 21);
    const double tones[] = {250.0, 2000.0, 8000.0};
    return test::makeSignal(rate, 2, noise.frameCount(), [&](int c, size_t i) {
        const auto stretch = std::min<size_t>(static_cast<size_t>(i / (rate * 10.0)), 2);
        return noise.channels[c][i] +
               0.4f * static_cast<float>(std::sin(2.0 * M_PI * tones[stretch] * i / rate));
    });
}

TEST(ChunkPlan, TenSecondChunksCountedInSinglePrecision) {
    EXPECT_EQ(chunkFrameCount(44100.0), 441000u);
    EXPECT_EQ(chunkFrameCount(48000.0), 480000u);
    EXPECT_EQ(chunkFrameCount(22050.5), 220505u) << "the rate times 10, truncated";
    EXPECT_EQ(chunkFrameCount(0.0), 1u) << "never a zero chunk";
    struct Case {
        int64_t length;
        int64_t chunks;
    };
    const Case cases[] = {{0, 0}, {1, 1}, {220500, 1}, {441000, 1}, {441001, 2}, {1102500, 3}};
    for (const Case& c : cases) EXPECT_EQ(plannedChunkCount(c.length, 441000), c.chunks) << c.length;
    // Beyond 2^24 frames the length is rounded to float first: 100·441000 + 1 frames reads as
    // 100·441000 and plans 100 chunks, so the last frame is not analysed.
    EXPECT_EQ(plannedChunkCount(44100001, 441000), 100);
}

TEST(SpectrumScan, FiveSecondFileIsOneChunkOfHundredPoints) {
    test::ScratchFolder dir;
    const test::Signal signal = test::makeNoise(44100.0, 2, 5.0, 0.5f, 31);
    ASSERT_EQ(signal.frameCount(), 220500u);
    test::writeWav(dir / "five.wav", signal);

    auto scan = scanSpectrum(dir / "five.wav", true, true);
    ASSERT_TRUE(scan.ok()) << scan.error().description();
    EXPECT_EQ(scan->plannedChunks, 1);
    ASSERT_EQ(scan->chunkProfiles.size(), 1u);
    const SpectralProfile& chunk = scan->chunkProfiles[0];
    EXPECT_EQ(chunk.referenceFileName, "five.wav chunk 1/1");
    // The whole file is one 220,500-frame chunk: the profile equals that of the whole signal
    // analysed as one buffer.
    const SpectralProfile whole = analyzeBuffer(*bufferOf(signal, 0, signal.frameCount()), "");
    EXPECT_EQ(chunk.magnitudes, whole.magnitudes);
}

TEST(SpectrumScan, TwentyFiveSecondFileIsThreeChunksAndBandsAreTheirMean) {
    test::ScratchFolder dir;
    const test::Signal signal = changingSignal(44100.0, 25.0);
    test::writeWav(dir / "long.wav", signal);

    auto scan = scanSpectrum(dir / "long.wav", true, true);
    ASSERT_TRUE(scan.ok()) << scan.error().description();
    EXPECT_EQ(scan->plannedChunks, 3);
    ASSERT_EQ(scan->chunkProfiles.size(), 3u);

    // Chunks of 10, 10 and 5 seconds, each analysed on its own.
    const size_t starts[] = {0, 441000, 882000};
    const size_t counts[] = {441000, 441000, 220500};
    std::vector<float> expectedBands(12, 0.0f);
    for (int c = 0; c < 3; ++c) {
        auto chunk = bufferOf(signal, starts[c], counts[c]);
        EXPECT_EQ(scan->chunkProfiles[c].referenceFileName, "long.wav chunk " + std::to_string(c + 1) + "/3");
        EXPECT_EQ(scan->chunkProfiles[c].magnitudes, analyzeBuffer(*chunk, "").magnitudes) << "chunk " << c;
        const std::vector<float> levels = analyzeBands(*chunk, kBandCentres, 44100.0f);
        for (size_t b = 0; b < 12; ++b) expectedBands[b] += levels[b] / 3.0f;
    }

    auto bands = analyze12BandSpectrum(dir / "long.wav");
    ASSERT_TRUE(bands.ok()) << bands.error().description();
    ASSERT_EQ(bands->size(), 12u);
    for (size_t b = 0; b < 12; ++b) EXPECT_NEAR(bands.value()[b], expectedBands[b], 1e-5f) << "band " << b;
    // Each stretch's tone shows in its band: 250 Hz (3), 2 kHz (6), 8 kHz (8) all well up.
    for (size_t b : {3u, 6u, 8u}) EXPECT_GT(bands.value()[b], bands.value()[1] + 1.0f) << "band " << b;
}

TEST(SpectrumScan, ShortFileReadsSilenceAndZeroBands) {
    test::ScratchFolder dir;
    test::writeWav(dir / "tiny.wav", test::makeNoise(44100.0, 2, 8000.0 / 44100.0, 0.9f, 32));

    auto scan = scanSpectrum(dir / "tiny.wav", true, false);
    ASSERT_TRUE(scan.ok());
    ASSERT_EQ(scan->chunkProfiles.size(), 1u);
    for (float m : scan->chunkProfiles[0].magnitudes) EXPECT_FLOAT_EQ(m, -200.0f);

    auto bands = analyze12BandSpectrum(dir / "tiny.wav");
    ASSERT_TRUE(bands.ok());
    EXPECT_EQ(bands.value(), std::vector<float>(12, 0.0f));
}

TEST(SpectrumScan, FortyEightKilohertzFile) {
    // The profile axis reads bins as if at 44.1 kHz, the bands use the file's 48 kHz: a 1 kHz sine
    // peaks at the ≈928 Hz point (55) of the profile but lands in the 1 kHz band.
    test::ScratchFolder dir;
    test::writeWav(dir / "k48.wav", test::makeSine(48000.0, 2, 12.0, 1000.0, 0.5f));

    auto scan = scanSpectrum(dir / "k48.wav", true, false);
    ASSERT_TRUE(scan.ok());
    ASSERT_EQ(scan->plannedChunks, 2) << "480,000-frame chunks";
    const auto& magnitudes = scan->chunkProfiles[0].magnitudes;
    EXPECT_EQ(std::max_element(magnitudes.begin(), magnitudes.end()) - magnitudes.begin(), 55);

    auto bands = analyze12BandSpectrum(dir / "k48.wav");
    ASSERT_TRUE(bands.ok());
    EXPECT_EQ(std::max_element(bands->begin(), bands->end()) - bands->begin(), 5);

    // 1400 Hz is inside the 2 kHz band only at the true rate (1400 … 2600 Hz at 48 kHz); bands
    // laid out for 44.1 kHz would put it in the 1 kHz band instead.
    test::writeWav(dir / "k48b.wav", test::makeSine(48000.0, 1, 5.0, 1400.0, 0.5f));
    auto edge = analyze12BandSpectrum(dir / "k48b.wav");
    ASSERT_TRUE(edge.ok());
    EXPECT_GT(edge.value()[6], edge.value()[5] + 3.0f);
}

TEST(SpectrumScan, OnlyTheFirstChannelCounts) {
    // Left: 4 kHz sine; right: 500 Hz sine. Only the 4 kHz band may rise.
    test::ScratchFolder dir;
    test::writeWav(dir / "lr.wav", test::makeSignal(44100.0, 2, 441000, [](int c, size_t i) {
        const double f = c == 0 ? 4000.0 : 500.0;
        return 0.5f * static_cast<float>(std::sin(2.0 * M_PI * f * i / 44100.0));
    }));
    auto bands = analyze12BandSpectrum(dir / "lr.wav");
    ASSERT_TRUE(bands.ok());
    EXPECT_GT(bands.value()[7], 5.0f);
    EXPECT_LT(bands.value()[4], 1.0f) << "the right channel's 500 Hz must not be seen";
}

TEST(SpectrumScan, FileErrorsArePassedOn) {
    test::ScratchFolder dir;
    auto missing = analyze12BandSpectrum(dir / "absent.wav");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain, errc::kAudioFile);
    EXPECT_EQ(missing.error().code, errc::kNoSuchFile);

    // Text with an audio extension is refused by the reader, not analysed as noise.
    {
        std::ofstream(dir / "fake.wav") << "this is not audio";
    }
    auto fake = scanSpectrum(dir / "fake.wav", true, true);
    ASSERT_FALSE(fake.ok());
    EXPECT_EQ(fake.error().domain, errc::kAudioFile);

    // An empty but valid file plans no chunk: twelve zeros, not a division by zero.
    test::writeWav(dir / "empty.wav", test::makeSignal(44100.0, 2, 0, [](int, size_t) { return 0.0f; }));
    auto empty = analyze12BandSpectrum(dir / "empty.wav");
    ASSERT_TRUE(empty.ok()) << empty.error().description();
    EXPECT_EQ(empty.value(), std::vector<float>(12, 0.0f));
}

TEST(SpectrumScan, ConcurrentAnalysesGiveIdenticalResults) {
    test::ScratchFolder dir;
    test::writeWav(dir / "a.wav", changingSignal(44100.0, 12.0));
    test::writeWav(dir / "b.wav", test::makeNoise(48000.0, 2, 11.0, 0.3f, 33));

    auto soloA = scanSpectrum(dir / "a.wav", true, true);
    auto soloB = scanSpectrum(dir / "b.wav", true, true);
    ASSERT_TRUE(soloA.ok() && soloB.ok());

    // Four analyses at once, two per file: every one must equal the analysis made alone.
    std::vector<std::optional<Result<SpectrumScan>>> results(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            results[t].emplace(scanSpectrum(dir / (t % 2 ? "b.wav" : "a.wav"), true, true));
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
        ASSERT_TRUE(results[t]->ok());
        const SpectrumScan& solo = t % 2 ? soloB.value() : soloA.value();
        const SpectrumScan& got = results[t]->value();
        EXPECT_EQ(got.bandSum, solo.bandSum) << "thread " << t;
        ASSERT_EQ(got.chunkProfiles.size(), solo.chunkProfiles.size());
        for (size_t c = 0; c < solo.chunkProfiles.size(); ++c) {
            EXPECT_EQ(got.chunkProfiles[c].magnitudes, solo.chunkProfiles[c].magnitudes);
        }
    }
}

}  // namespace
}  // namespace korvanta
