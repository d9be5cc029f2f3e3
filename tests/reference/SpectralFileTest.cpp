// Whole files: the chunk plan, chunk profiles, the 12-band spectrum, concurrent scans, and the
// analyses that measure loudness first (analyzeTrack, the one-read combination, the reference).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <thread>

#include "SignalBuffer.h"
#include "engine/LoudnessMeter.h"
#include "reference/ReferenceTrackAnalysis.h"
#include "reference/SpectralAnalyzer.h"

namespace korvanta {
namespace {

namespace fs = std::filesystem;
using test::bufferOf;

// Stereo whose 10-second stretches sound different (250 Hz, 2 kHz, then 8 kHz over faint noise),
// so that a chunk read from the wrong place changes the result.
test::Signal changingSignal(double rate, double seconds, uint32_t seed = 21) {
    const test::Signal noise = test::makeNoise(rate, 2, seconds, 0.002f, seed);
    const double tones[] = {250.0, 2000.0, 8000.0};
    return test::makeSignal(rate, 2, noise.frameCount(), [&](int c, size_t i) {
        const auto stretch = std::min<size_t>(static_cast<size_t>(i / (rate * 10.0)), 2);
        return noise.channels[c][i] +
               0.4f * static_cast<float>(std::sin(2.0 * M_PI * tones[stretch] * i / rate));
    });
}

template <typename T>
ptrdiff_t argmax(const T& v) {
    return std::max_element(v.begin(), v.end()) - v.begin();
}

class SpectralFile : public ::testing::Test {
protected:
    fs::path write(const std::string& name, const test::Signal& signal) {
        test::writeWav(dir / name, signal);
        return dir / name;
    }
    // analyze12BandSpectrum, or twelve NaNs (which no check accepts) when it fails.
    static std::vector<float> bands(const fs::path& path) {
        auto result = analyze12BandSpectrum(path);
        EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().description());
        return result.ok() ? result.value() : std::vector<float>(12, NAN);
    }
    test::ScratchFolder dir;
};
using AnalyzeTrack = SpectralFile;

TEST(ChunkPlan, TenSecondChunksCountedInSinglePrecision) {
    EXPECT_EQ(chunkFrameCount(44100.0), 441000u);
    EXPECT_EQ(chunkFrameCount(48000.0), 480000u);
    EXPECT_EQ(chunkFrameCount(22050.5), 220505u) << "the rate times 10, truncated";
    EXPECT_EQ(chunkFrameCount(0.0), 1u) << "never a zero chunk";
    const std::pair<int64_t, int64_t> cases[] = {{0, 0},      {1, 1},      {220500, 1},
                                                 {441000, 1}, {441001, 2}, {1102500, 3}};
    for (const auto& [length, chunks] : cases) EXPECT_EQ(plannedChunkCount(length, 441000), chunks) << length;
    // Beyond 2^24 frames the length is rounded to float first, so the last frame is not analysed.
    EXPECT_EQ(plannedChunkCount(44100001, 441000), 100);
}

TEST_F(SpectralFile, ChunksAreAnalysedOnTheirOwnAndBandsAreTheirMean) {
    // 5 s: one short chunk; 25 s: chunks of 10, 10 and 5 s.
    const std::tuple<std::string, test::Signal, size_t> files[] = {
        {"five.wav", test::makeNoise(44100.0, 2, 5.0, 0.5f, 31), 1},
        {"long.wav", changingSignal(44100.0, 25.0), 3}};
    for (const auto& [name, signal, chunks] : files) {
        SCOPED_TRACE(name);
        const fs::path path = write(name, signal);
        auto scan = scanSpectrum(path, true, true);
        ASSERT_TRUE(scan.ok()) << scan.error().description();
        EXPECT_EQ(scan->plannedChunks, static_cast<int64_t>(chunks));
        ASSERT_EQ(scan->chunkProfiles.size(), chunks);
        std::vector<float> expectedBands(12, 0.0f);
        for (size_t c = 0; c < chunks; ++c) {
            SCOPED_TRACE(c);
            auto chunk = bufferOf(signal, c * 441000, 441000);
            EXPECT_EQ(scan->chunkProfiles[c].referenceFileName,
                      name + " chunk " + std::to_string(c + 1) + "/" + std::to_string(chunks));
            EXPECT_EQ(scan->chunkProfiles[c].magnitudes, analyzeBuffer(*chunk, "").magnitudes);
            const std::vector<float> levels = analyzeBands(*chunk, kBandCentres, 44100.0f);
            for (size_t b = 0; b < 12; ++b) expectedBands[b] += levels[b] / static_cast<float>(chunks);
        }
        const std::vector<float> mean = bands(path);
        ASSERT_EQ(mean.size(), 12u);
        for (size_t b = 0; b < 12; ++b) EXPECT_NEAR(mean[b], expectedBands[b], 1e-5f) << "band " << b;
        if (chunks == 3) {
            for (size_t b : {3u, 6u, 8u}) EXPECT_GT(mean[b], mean[1] + 1.0f) << "a stretch's tone, band " << b;
        }
    }
}

TEST_F(SpectralFile, ShortFileReadsSilenceAndZeroBands) {
    const fs::path path = write("tiny.wav", test::makeNoise(44100.0, 2, 8000.0 / 44100.0, 0.9f, 32));
    auto scan = scanSpectrum(path, true, false);
    ASSERT_TRUE(scan.ok());
    ASSERT_EQ(scan->chunkProfiles.size(), 1u);
    for (float m : scan->chunkProfiles[0].magnitudes) EXPECT_FLOAT_EQ(m, -200.0f);
    EXPECT_EQ(bands(path), std::vector<float>(12, 0.0f));
}

TEST_F(SpectralFile, FortyEightKilohertzFile) {
    // The profile axis reads bins as if at 44.1 kHz, the bands use the file's rate: a 1 kHz sine
    // peaks at the ≈928 Hz point (55) of the profile but lands in the 1 kHz band.
    const fs::path path = write("k48.wav", test::makeSine(48000.0, 2, 12.0, 1000.0, 0.5f));
    auto scan = scanSpectrum(path, true, false);
    ASSERT_TRUE(scan.ok());
    ASSERT_EQ(scan->plannedChunks, 2) << "480,000-frame chunks";
    EXPECT_EQ(argmax(scan->chunkProfiles[0].magnitudes), 55);
    EXPECT_EQ(argmax(bands(path)), 5);
    // 1400 Hz is in the 2 kHz band only at the true rate; bands laid out for 44.1 kHz would put it
    // in the 1 kHz band.
    const std::vector<float> edge = bands(write("k48b.wav", test::makeSine(48000.0, 1, 5.0, 1400.0, 0.5f)));
    EXPECT_GT(edge[6], edge[5] + 3.0f);
}

TEST_F(SpectralFile, OnlyTheFirstChannelCounts) {
    const test::Signal leftHigh = test::makeSignal(44100.0, 2, 441000, [](int c, size_t i) {
        return 0.5f * static_cast<float>(std::sin(2.0 * M_PI * (c == 0 ? 4000.0 : 500.0) * i / 44100.0));
    });
    const std::vector<float> levels = bands(write("lr.wav", leftHigh));
    EXPECT_GT(levels[7], 5.0f);
    EXPECT_LT(levels[4], 1.0f) << "the right channel's 500 Hz must not be seen";
}

TEST_F(SpectralFile, FileErrorsArePassedOnAndLoudnessFailuresComeFirst) {
    auto missing = analyze12BandSpectrum(dir / "absent.wav");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain, errc::kAudioFile);
    EXPECT_EQ(missing.error().code, errc::kNoSuchFile);
    auto missingTrack = analyzeTrack(dir / "absent.wav");
    ASSERT_FALSE(missingTrack.ok());
    EXPECT_EQ(missingTrack.error().domain, errc::kAudioFile);

    // Text with an audio extension is refused by the reader, not analysed as noise.
    std::ofstream(dir / "fake.wav") << "this is not audio";
    auto fake = scanSpectrum(dir / "fake.wav", true, true);
    ASSERT_FALSE(fake.ok());
    EXPECT_EQ(fake.error().domain, errc::kAudioFile);

    // An empty file plans no chunk (twelve zeros, not a division by zero), but the analyses that
    // measure loudness refuse it before any spectrum is read.
    const fs::path empty =
        write("empty.wav", test::makeSignal(44100.0, 2, 0, [](int, size_t) { return 0.0f; }));
    EXPECT_EQ(bands(empty), std::vector<float>(12, 0.0f));
    auto track = analyzeTrack(empty);
    auto spectra = analyzeTrackSpectra(empty);
    bool measured = false;
    auto reference = analyzeReferenceTrack(empty, [&](const AudioStats&) { measured = true; });
    ASSERT_FALSE(track.ok() || spectra.ok() || reference.ok());
    EXPECT_FALSE(measured) << "no loudness to report";
    for (const Error* error : {&track.error(), &spectra.error(), &reference.error()}) {
        EXPECT_EQ(*error, (Error{"KorvantaApp", 4, "Audio file is empty"}));
    }
}

TEST_F(SpectralFile, ConcurrentAnalysesGiveIdenticalResults) {
    const fs::path files[] = {write("a.wav", changingSignal(44100.0, 12.0)),
                              write("b.wav", test::makeNoise(48000.0, 2, 11.0, 0.3f, 33))};
    auto soloA = scanSpectrum(files[0], true, true);
    auto soloB = scanSpectrum(files[1], true, true);
    ASSERT_TRUE(soloA.ok() && soloB.ok());
    // Four analyses at once, two per file: every one must equal the analysis made alone.
    std::vector<std::optional<Result<SpectrumScan>>> results(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] { results[t].emplace(scanSpectrum(files[t % 2], true, true)); });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
        SCOPED_TRACE(t);
        ASSERT_TRUE(results[t]->ok());
        const SpectrumScan& solo = t % 2 ? soloB.value() : soloA.value();
        const SpectrumScan& got = results[t]->value();
        EXPECT_EQ(got.bandSum, solo.bandSum);
        ASSERT_EQ(got.chunkProfiles.size(), solo.chunkProfiles.size());
        for (size_t c = 0; c < solo.chunkProfiles.size(); ++c) {
            EXPECT_EQ(got.chunkProfiles[c].magnitudes, solo.chunkProfiles[c].magnitudes);
        }
    }
}

TEST_F(AnalyzeTrack, MeanOfChunkProfilesNamedAfterTheFile) {
    const fs::path path = write("song.wav", changingSignal(44100.0, 25.0, 41));
    auto scan = scanSpectrum(path, true, false);
    ASSERT_TRUE(scan.ok());
    ASSERT_EQ(scan->chunkProfiles.size(), 3u);
    auto profile = analyzeTrack(path);
    ASSERT_TRUE(profile.ok()) << profile.error().description();
    EXPECT_EQ(profile->referenceFileName, "song.wav");
    EXPECT_TRUE(profile->spectrum12Band.empty());
    EXPECT_EQ(profile->frequencies, scan->chunkProfiles[0].frequencies);
    ASSERT_EQ(profile->magnitudes.size(), 100u);
    // The mean in dB over the chunks: 10, 10 and 5 s weigh the same.
    for (size_t i = 0; i < 100; ++i) {
        float sum = 0.0f;
        for (const auto& chunk : scan->chunkProfiles) sum += chunk.magnitudes[i];
        EXPECT_NEAR(profile->magnitudes[i], sum / 3.0f, 1e-4f) << "point " << i;
    }
}

TEST_F(AnalyzeTrack, OneReadGivesWhatTheSeparateAnalysesGiveAndReportsLoudnessFirst) {
    const std::tuple<const char*, double, double> files[] = {{"mix.wav", 48000.0, 21.0},
                                                             {"reference.wav", 44100.0, 15.0}};
    for (const auto& [name, rate, seconds] : files) {
        SCOPED_TRACE(name);
        const fs::path path = write(name, changingSignal(rate, seconds, 41));
        auto profile = analyzeTrack(path);
        auto stats = analyzeAudioFile(path);
        ASSERT_TRUE(profile.ok() && stats.ok());
        const std::vector<float> expectedBands = bands(path);

        auto both = analyzeTrackSpectra(path);
        int calls = 0;
        float reported = 0.0f;
        auto reference = analyzeReferenceTrack(path, [&](const AudioStats& s) {
            ++calls;
            reported = s.lufs;
        });
        ASSERT_TRUE(both.ok() && reference.ok()) << (reference.ok() ? "" : reference.error().description());
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(reported, stats->lufs);
        EXPECT_EQ(reference->stats, stats.value());
        for (const SpectralProfile* p : {&both->profile, &reference->profile}) {
            EXPECT_EQ(p->referenceFileName, name);
            EXPECT_EQ(p->frequencies, profile->frequencies);
            EXPECT_EQ(p->magnitudes, profile->magnitudes);
        }
        EXPECT_EQ(both->spectrum12Band, expectedBands);
        EXPECT_EQ(reference->profile.spectrum12Band, expectedBands) << "the reference carries its 12 bands";
    }
}

}  // namespace
}  // namespace korvanta
