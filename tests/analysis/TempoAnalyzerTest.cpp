#include "analysis/TempoAnalyzer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <thread>

#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

// At every beat from `startSeconds` a decaying noise burst (a kick-like click), optionally with
// quieter bursts on the off-beats (hi-hats), over silence.
Signal beatTrack(double sampleRate, int channels, double seconds, double bpm, bool offBeats = false,
                 double startSeconds = 0.0, uint32_t seed = 7) {
    const auto frames = static_cast<size_t>(std::llround(sampleRate * seconds));
    std::vector<float> mono(frames, 0.0f);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const double beat = 60.0 / bpm;
    auto addBurst = [&](double at, float amplitude, double decaySeconds) {
        const auto start = static_cast<size_t>(std::llround(at * sampleRate));
        const auto length = static_cast<size_t>(decaySeconds * 4.0 * sampleRate);
        for (size_t i = 0; i < length && start + i < frames; ++i) {
            const double t = static_cast<double>(i) / sampleRate;
            mono[start + i] += amplitude * static_cast<float>(std::exp(-t / decaySeconds)) * noise(rng);
        }
    };
    for (double t = startSeconds; t < seconds; t += beat) {
        addBurst(t, 0.8f, 0.03);
        if (offBeats) addBurst(t + beat / 2.0, 0.25f, 0.01);
    }
    return makeSignal(sampleRate, channels, frames, [&](int, size_t i) { return mono[i]; });
}

class TempoTest : public ::testing::Test {
protected:
    void SetUp() override { BPMAnalyzer::clearCache(); }
    void TearDown() override { BPMAnalyzer::clearCache(); }

    std::filesystem::path write(const std::string& name, const Signal& s) {
        writeWav(folder / name, s, WavSampleFormat::int16);
        return folder / name;
    }
    std::filesystem::path write(const Signal& s) { return write("song-" + std::to_string(++written) + ".wav", s); }

    int tempoOf(const std::filesystem::path& path) {
        auto r = BPMAnalyzer::detectTempo(path);
        EXPECT_TRUE(r.ok()) << path << ": " << (r.ok() ? "" : r.error().description());
        return r.ok() ? r.value() : -1;
    }

    ScratchFolder folder;
    int written = 0;
};

TEST_F(TempoTest, BeatTracksComeOutWithinOneCandidateStep) {
    // The envelope rate follows the file's sample rate, so tempos must come out at 48 and
    // 22.05 kHz too. Off-beat hats put energy at twice the tempo; above 85 BPM that lies beyond
    // the candidates and must not pull the estimate (below it, the double tempo may win).
    const struct {
        double bpm, sampleRate;
        int channels;
        bool offBeats;
    } cases[] = {{90, 44100, 1, false},  {120, 44100, 2, false}, {128, 44100, 2, true},
                 {140, 44100, 1, true},  {160, 44100, 2, false}, {72, 44100, 1, false},
                 {100, 48000, 2, false}, {150, 22050, 1, false}, {84, 44100, 2, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpm << " BPM at " << c.sampleRate << " Hz, "
                                        << c.channels << " channels" << (c.offBeats ? ", off-beats" : ""));
        const int tempo = tempoOf(write(beatTrack(c.sampleRate, c.channels, 40.0, c.bpm, c.offBeats)));
        EXPECT_LE(std::abs(tempo - c.bpm), 2.0) << "got " << tempo;
    }
}

TEST_F(TempoTest, DefaultsTo120WhereNoTempoCanBeMeasured) {
    const Signal beats = beatTrack(44100, 1, 1.0, 140);
    auto truncated = [&](size_t frames) {
        return makeSignal(44100, 1, frames, [&](int, size_t i) { return beats.channels[0][i]; });
    };
    const struct {
        const char* why;
        Signal signal;
    } cases[] = {
        {"1024 frames are too few, even of clicks", truncated(1024)},
        {"4410 frames make no complete envelope block beyond the first", truncated(4410)},
        {"digital silence correlates with nothing", makeSignal(44100, 2, 441000, [](int, size_t) { return 0.0f; })},
        {"opposite channels cancel in the mono mix", makeSignal(44100, 2, 20 * 44100, [&](int c, size_t i) {
             const float v = beats.channels[0][i % beats.frameCount()];  // 1 s of clicks repeated
             return c == 0 ? v : -v;
         })},
    };
    for (const auto& c : cases) EXPECT_EQ(tempoOf(write(c.signal)), 120) << c.why;
    EXPECT_EQ(tempoOf(folder / "no-such-file.wav"), 120) << "a missing file is not an error";
}

TEST_F(TempoTest, OnlyTheFirst120SecondsAreRead) {
    // Silence for the first two minutes, then clicks at 140 BPM: an analysis of the whole file or
    // of its end would find 140, one of the first 120 seconds finds nothing.
    EXPECT_EQ(tempoOf(write(beatTrack(44100, 1, 140.0, 140, false, 120.5))), 120);
    EXPECT_NEAR(tempoOf(write(beatTrack(44100, 1, 140.0, 140, false, 100.0))), 140, 2)
        << "clicks inside the first 120 seconds are found";
}

TEST_F(TempoTest, ResultIsAlwaysAnEvenCandidate) {
    // Noise and odd tempos, which match no candidate exactly, still give one of the candidates.
    for (uint32_t seed : {1u, 2u, 3u}) {
        for (const auto& path : {write(makeNoise(44100, 2, 15.0, 0.5f, seed)),
                                 write(beatTrack(44100, 1, 20.0, 93.0 + 22.0 * seed, true, 0.0, seed))}) {
            const int tempo = tempoOf(path);
            EXPECT_EQ(tempo % 2, 0) << path;
            EXPECT_GE(tempo, BPMAnalyzer::MIN_BPM) << path;
            EXPECT_LE(tempo, BPMAnalyzer::MAX_BPM) << path;
        }
    }
}

TEST_F(TempoTest, OpenAndReadFailuresArePassedOn) {
    const auto text = folder / "notes.wav";
    std::ofstream(text) << "this is not audio, whatever the name says";
    EXPECT_FALSE(BPMAnalyzer::detectTempo(text).ok()) << "a file that exists but cannot be opened";
    EXPECT_FALSE(BPMAnalyzer::detectTempo(folder.path()).ok()) << "a folder is not audio";
    std::ofstream(text) << " still not audio";
    EXPECT_FALSE(BPMAnalyzer::detectTempo(text).ok()) << "failures are not cached";
}

TEST_F(TempoTest, CacheAnswersWithoutReadingAndKeepsThe25MostRecentlyUsedPaths) {
    // Missing files cost nothing to analyse and their default 120 is cached like any result, so
    // they can fill the cache around one real file whose cached 90 shows whether it survived.
    const auto beatPath = write("kept.wav", beatTrack(44100, 1, 30.0, 90));
    const auto filler = [&](int i) { return folder / ("missing-" + std::to_string(i) + ".wav"); };
    auto beatStillCached = [&] {
        // Replacing the file makes a fresh analysis give 120.
        write("kept.wav", makeSignal(44100, 1, 44100, [](int, size_t) { return 0.0f; }));
        return tempoOf(beatPath) != 120;
    };

    const int first = tempoOf(beatPath);
    ASSERT_NEAR(first, 90, 2);
    EXPECT_TRUE(beatStillCached()) << "an overwritten file is not read again";
    for (int i = 0; i < 24; ++i) tempoOf(filler(i));
    EXPECT_TRUE(beatStillCached()) << "25 entries fit";

    // Using the beat file makes it the most recent; 24 more entries then push out only older ones.
    for (int i = 24; i < 48; ++i) tempoOf(filler(i));
    EXPECT_TRUE(beatStillCached()) << "the lookup above made it the most recently used";

    write("kept.wav", beatTrack(44100, 1, 30.0, 90));
    BPMAnalyzer::clearCache();
    ASSERT_NEAR(tempoOf(beatPath), 90, 2);
    for (int i = 100; i < 125; ++i) tempoOf(filler(i));
    EXPECT_FALSE(beatStillCached()) << "25 newer entries evict the least recently used";

    write("kept.wav", beatTrack(44100, 1, 30.0, 90));
    BPMAnalyzer::clearCache();
    ASSERT_EQ(tempoOf(beatPath), first);
    std::filesystem::remove(beatPath);
    EXPECT_EQ(tempoOf(beatPath), first) << "nor is a file that has gone";
    BPMAnalyzer::clearCache();
    EXPECT_EQ(tempoOf(beatPath), 120) << "after clearing, the missing file gives the default";
}

TEST_F(TempoTest, ConcurrentRequestsAgree) {
    const auto a = write(beatTrack(44100, 2, 20.0, 128)), b = write(beatTrack(44100, 1, 20.0, 100));
    std::vector<int> results(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            auto r = BPMAnalyzer::detectTempo(t % 2 ? a : b);
            results[t] = r.ok() ? r.value() : -1;
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 8; ++t) EXPECT_NEAR(results[t], t % 2 ? 128 : 100, 2) << "thread " << t;
}

TEST(TempoEnvelope, BlockRmsNormalisedToTheLoudestBlockAtAnyLength) {
    constexpr int kBlock = BPMAnalyzer::BASE_SPLIT_SAMPLE_SIZE;
    // Block 0 at ±0.5 (RMS 0.5), block 1 at ±0.25, then a loud incomplete tail that must be ignored.
    std::vector<float> samples(2 * kBlock + 100);
    for (size_t i = 0; i < samples.size(); ++i) {
        const float sign = (i % 2) ? 1.0f : -1.0f;
        samples[i] = sign * (i < kBlock ? 0.5f : i < 2 * kBlock ? 0.25f : 1.0f);
    }
    const auto env = BPMAnalyzer::envelope(samples, kBlock);
    ASSERT_EQ(env.size(), 2u) << "N / blockSize blocks, tail dropped";
    EXPECT_FLOAT_EQ(env[0], 1.0f) << "the loudest block is 1";
    EXPECT_FLOAT_EQ(env[1], 0.5f) << "RMS ratio 0.25 / 0.5";

    EXPECT_TRUE(BPMAnalyzer::envelope(std::vector<float>(4410, 1.0f), 4410).empty())
        << "exactly one block's worth gives no envelope";
    EXPECT_EQ(BPMAnalyzer::envelope(std::vector<float>(4411, 1.0f), 4410).size(), 1u);
    EXPECT_TRUE(BPMAnalyzer::envelope(std::vector<float>(100, 1.0f), 0).empty()) << "block size 0";
    const auto silent = BPMAnalyzer::envelope(std::vector<float>(10 * 441, 0.0f), 441);
    ASSERT_EQ(silent.size(), 10u);
    for (float v : silent) EXPECT_EQ(v, 0.0f) << "silence is not divided by its zero maximum";
}

TEST(TempoEstimate, PicksTheCandidateOfAPureSinusoidAndTheSlowerOfATie) {
    // An envelope that is itself a sinusoid at 2.2 Hz (132 BPM) at 10 values per second.
    std::vector<float> env(1200);
    for (size_t k = 0; k < env.size(); ++k) {
        env[k] = 0.5f + 0.5f * static_cast<float>(std::cos(2.0 * M_PI * 2.2 * k / 10.0));
    }
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope(env, 4410, 44100.0), 132.0);
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope(env, 4800, 48000.0), 132.0)
        << "the same envelope rate from another rate and block size";

    // A single value at k = 0 meets every candidate with sin 0 = 0 and cos 0 = 1: all magnitudes
    // are exactly 1, and the first (slowest) candidate must keep the lead.
    std::vector<float> tie(600, 0.0f);
    tie[0] = 1.0f;
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope(tie, 4410, 44100.0), 70.0);
}

TEST(TempoEstimate, InvalidInputGivesTheDefault) {
    const std::vector<float> env(100, 0.5f);
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope({}, 4410, 44100.0), 120.0) << "empty envelope";
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope(env, 0, 44100.0), 120.0) << "block size 0";
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope(env, 4410, 0.0), 120.0) << "rate 0";
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope(env, 4410, -44100.0), 120.0) << "negative rate";
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope(env, 4410, std::nan("")), 120.0) << "NaN rate";
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope(env, 1, 1e300), 120.0) << "envelope rate overflows";
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope(std::vector<float>(100, 0.0f), 4410, 44100.0), 120.0)
        << "no positive magnitude";
    std::vector<float> poisoned(100, 0.5f);
    poisoned[3] = std::nanf("");
    EXPECT_EQ(BPMAnalyzer::estimateFromEnvelope(poisoned, 4410, 44100.0), 120.0)
        << "non-finite magnitudes never win";
}

}  // namespace
}  // namespace korvanta::test
