// Whole-file analyses that measure loudness first: analyzeTrack, the one-read combination with
// the 12-band spectrum, and the reference analysis.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/LoudnessMeter.h"
#include "reference/ReferenceTrackAnalysis.h"
#include "reference/SpectralAnalyzer.h"
#include "support/TestAudio.h"

namespace korvanta {
namespace {

// Three stretches that sound different (250 Hz, 2 kHz, 8 kHz sines over faint noise).
test::Signal changingSignal(double rate, double seconds) {
    const test::Signal noise = test::makeNoise(rate, 2, seconds, 0.002f, 41);
    const double tones[] = {250.0, 2000.0, 8000.0};
    return test::makeSignal(rate, 2, noise.frameCount(), [&](int c, size_t i) {
        const auto stretch = std::min<size_t>(static_cast<size_t>(i / (rate * 10.0)), 2);
        return noise.channels[c][i] +
               0.4f * static_cast<float>(std::sin(2.0 * M_PI * tones[stretch] * i / rate));
    });
}

TEST(AnalyzeTrack, MeanOfChunkProfilesNamedAfterTheFile) {
    test::ScratchFolder dir;
    test::writeWav(dir / "song.wav", changingSignal(44100.0, 25.0));
    auto scan = scanSpectrum(dir / "song.wav", true, false);
    ASSERT_TRUE(scan.ok());
    ASSERT_EQ(scan->chunkProfiles.size(), 3u);

    auto profile = analyzeTrack(dir / "song.wav");
    ASSERT_TRUE(profile.ok()) << profile.error().description();
    EXPECT_EQ(profile->referenceFileName, "song.wav");
    EXPECT_TRUE(profile->spectrum12Band.empty());
    EXPECT_EQ(profile->frequencies, scan->chunkProfiles[0].frequencies);
    ASSERT_EQ(profile->magnitudes.size(), 100u);
    // The mean is taken in dB, over the chunks (10, 10 and 5 s weigh the same).
    for (size_t i = 0; i < 100; ++i) {
        float sum = 0.0f;
        for (const auto& chunk : scan->chunkProfiles) sum += chunk.magnitudes[i];
        EXPECT_NEAR(profile->magnitudes[i], sum / 3.0f, 1e-4f) << "point " << i;
    }
}

TEST(AnalyzeTrack, MeasurementFailuresComeFirst) {
    test::ScratchFolder dir;
    // An empty file is refused by the loudness measurement before any spectrum is read.
    test::writeWav(dir / "empty.wav", test::makeSignal(44100.0, 2, 0, [](int, size_t) { return 0.0f; }));
    auto track = analyzeTrack(dir / "empty.wav");
    auto spectra = analyzeTrackSpectra(dir / "empty.wav");
    bool measured = false;
    auto reference = analyzeReferenceTrack(dir / "empty.wav", [&](const AudioStats&) { measured = true; });
    ASSERT_FALSE(track.ok() || spectra.ok() || reference.ok());
    EXPECT_FALSE(measured) << "no loudness to report";
    for (const Error* error : {&track.error(), &spectra.error(), &reference.error()}) {
        EXPECT_EQ(error->domain, "KorvantaApp");
        EXPECT_EQ(error->code, 4);
        EXPECT_EQ(error->message, "Audio file is empty");
    }
    auto missing = analyzeTrack(dir / "absent.wav");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain, errc::kAudioFile);
}

TEST(AnalyzeTrackSpectra, OneReadGivesWhatTheTwoAnalysesGive) {
    test::ScratchFolder dir;
    test::writeWav(dir / "mix.wav", changingSignal(48000.0, 21.0));
    auto both = analyzeTrackSpectra(dir / "mix.wav");
    auto profile = analyzeTrack(dir / "mix.wav");
    auto bands = analyze12BandSpectrum(dir / "mix.wav");
    ASSERT_TRUE(both.ok() && profile.ok() && bands.ok());
    EXPECT_EQ(both->profile.frequencies, profile->frequencies);
    EXPECT_EQ(both->profile.magnitudes, profile->magnitudes);
    EXPECT_EQ(both->profile.referenceFileName, "mix.wav");
    EXPECT_EQ(both->spectrum12Band, bands.value());
}

TEST(AnalyzeReferenceTrack, ReportsLoudnessThenBuildsTheFullProfile) {
    test::ScratchFolder dir;
    test::writeWav(dir / "reference.wav", changingSignal(44100.0, 15.0));
    const auto path = dir / "reference.wav";

    int calls = 0;
    float reported = 0.0f;
    auto analysis = analyzeReferenceTrack(path, [&](const AudioStats& stats) {
        ++calls;
        reported = stats.lufs;
    });
    ASSERT_TRUE(analysis.ok()) << analysis.error().description();
    auto stats = analyzeAudioFile(path);
    ASSERT_TRUE(stats.ok());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(reported, stats->lufs);
    EXPECT_EQ(analysis->stats, stats.value());

    auto profile = analyzeTrack(path);
    auto bands = analyze12BandSpectrum(path);
    ASSERT_TRUE(profile.ok() && bands.ok());
    const SpectralProfile& p = analysis->profile;
    EXPECT_EQ(p.referenceFileName, "reference.wav");
    EXPECT_EQ(p.frequencies, profile->frequencies);
    EXPECT_EQ(p.magnitudes, profile->magnitudes);
    EXPECT_EQ(p.spectrum12Band, bands.value()) << "the reference profile carries its 12-band spectrum";
}

}  // namespace
}  // namespace korvanta
