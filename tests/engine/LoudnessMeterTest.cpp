// The loudness measurement against libebur128, against its steps done literally, and at its edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <thread>

#include "Ebur128Reference.h"
#include "engine/Biquad.h"
#include "engine/LoudnessMeasurement.h"
#include "engine/LoudnessMeter.h"
#include "platform/AudioFileReader.h"

namespace korvanta::test {
namespace {

constexpr float kSilentLufs = -449.72f;  // 10·log10(1.4e-45) − 1.191
constexpr float kSilentPeak = -897.06f;  // 20·log10(1.4e-45)
constexpr float kSilentRms = -896.66f;   // 20·log10(1.4e-45) + 0.4

AudioStats analyze(const Signal& signal, WavSampleFormat format = WavSampleFormat::float32) {
    ScratchFolder folder;
    writeWav(folder / "song.wav", signal, format);
    auto stats = analyzeAudioFile(folder / "song.wav");
    EXPECT_TRUE(stats.ok()) << stats.error().description();
    return stats.ok() ? stats.value() : AudioStats{};
}

AudioStats measure(const Signal& s) {
    return measureLoudness(planes(s).data(), s.channelCount(), uint32_t(s.frameCount()),
                           float(s.sampleRate));
}

// The measurement exactly as its steps read: whole K-weighted copies, every window summed directly.
AudioStats literalMeasurement(const Signal& s) {
    const int64_t n = int64_t(s.frameCount()), channels = s.channelCount();
    const float sr = float(s.sampleRate);
    const int64_t win = int64_t(sr * 0.1f), hop = int64_t(sr * 0.05f), block = int64_t(sr * 0.4f);
    double peak = 0;
    std::vector<double> series;
    for (int64_t start = 0; start < n - win; start += hop) {
        double sum = 0;
        for (const auto& ch : s.channels) {
            for (int64_t i = start; i < start + win; ++i) sum += double(ch[i]) * ch[i];
        }
        series.push_back(std::sqrt(sum / double(win * channels)));
    }
    std::sort(series.begin(), series.end(), std::greater<>());
    const size_t k = std::min(series.size(), std::max<size_t>(1, size_t(series.size() * 0.05)));
    double squares = 0;
    for (size_t i = 0; i < k; ++i) squares += series[i] * series[i];

    const float hpB[] = {1.0f, -2.0f, 1.0f}, hpA[] = {1.0f, -1.99004745483398f, 0.99007225036621f};
    const float shB[] = {1.53512485958697f, -2.69169618940638f, 1.19839281085285f};
    const float shA[] = {1.0f, -1.69065929318241f, 0.73248077421585f};
    std::vector<std::vector<float>> weighted;
    for (const auto& ch : s.channels) {
        for (float v : ch) peak = std::max(peak, double(std::fabs(v)));
        weighted.push_back(biquadOverArray(biquadOverArray(ch, hpB, hpA), shB, shA));
    }
    std::vector<double> powers, gated, kept;
    for (int64_t start = 0; start < n - block; start += win) {
        double z = 0;
        for (int64_t c = 0; c < channels; ++c) {
            double sum = 0;
            for (int64_t i = start; i < start + block; ++i) sum += double(weighted[c][i]) * weighted[c][i];
            z += (c >= 2 ? 1.41f : 1.0f) * sum / double(block);
        }
        powers.push_back(z);
    }
    const auto mean = [](const std::vector<double>& v) {
        return v.empty() ? 0.0 : std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
    };
    std::copy_if(powers.begin(), powers.end(), std::back_inserter(gated), [](double z) { return z > 1e-7; });
    if (gated.empty()) gated = powers;
    const double gate = 0.1 * mean(gated);
    std::copy_if(gated.begin(), gated.end(), std::back_inserter(kept), [&](double z) { return z > gate; });
    if (kept.empty()) kept = gated;
    const auto db = [](double v) { return std::log10(std::max(v, 1.401298464e-45)); };
    return {float(10 * db(mean(kept)) - 1.191), float(20 * db(peak)),
            float(20 * db(k ? std::sqrt(squares / double(k)) : 0.0) + 0.4)};
}

// Programme-like material: a few tones, noise, and a level that moves in steps and swells.
Signal musicLike(double rate, int channels, double seconds, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-1, 1);
    return makeSignal(rate, channels, size_t(rate * seconds), [&](int c, size_t i) {
        const double t = double(i) / rate;
        const double level = 0.15 + 0.1 * std::sin(0.7 * t + c) + ((int(t * 0.5) % 3) == 1 ? 0.2 : 0);
        const double tones = std::sin(2 * M_PI * 41 * t) + 0.5 * std::sin(2 * M_PI * (330 + 40 * c) * t) +
                             0.3 * std::sin(2 * M_PI * 7200 * t);
        return float(level * (0.6 * tones + 0.4 * noise(rng)));
    });
}

// From `from` on, every sample of `channels` is scaled by `factor`.
Signal scaledFrom(Signal s, size_t from, float factor, std::initializer_list<size_t> channels) {
    for (size_t c : channels) {
        for (size_t i = from; i < s.frameCount(); ++i) s.channels[c][i] *= factor;
    }
    return s;
}

TEST(LoudnessMeter, MatchesLibebur128MinusHalfALoudnessUnit) {
    // 48 kHz, lengths that end between two 100 ms steps, so both see the same blocks.
    const struct {
        const char* name;
        Signal signal;
    } cases[] = {
        {"sine 1 kHz −20 dBFS", makeSine(48000, 2, 10.05, 1000, 0.1f)},
        {"sine 40 Hz (high-pass)", makeSine(48000, 2, 10.05, 40, 0.5f)},
        {"sine 9 kHz (shelf)", makeSine(48000, 2, 10.05, 9000, 0.3f)},
        {"loud noise", makeNoise(48000, 2, 10.05, 0.9f, 1)},
        {"quiet noise", makeNoise(48000, 2, 10.05, 0.003f, 2)},
        {"mono noise", makeNoise(48000, 1, 10.05, 0.4f, 3)},
        {"noise, one channel 6 dB down later", scaledFrom(makeNoise(48000, 2, 10.05, 0.3f, 5), 241200, 0.5f, {0})},
        // Near-silence far below −70 dB is gated out (a plain mean would read about 3 dB lower).
        {"noise, then near-silence", scaledFrom(makeNoise(48000, 2, 10.05, 0.3f, 30), 241200, 1e-4f, {0, 1})},
        {"music-like mix", musicLike(48000, 2, 12.05, 4)},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(analyze(c.signal).lufs, libebur128(c.signal).integratedLufs - 0.5, 0.01) << c.name;
    }
}

TEST(LoudnessMeter, FastPathEqualsTheLiteralStepsAtAnyRateAndChannelCount) {
    // Long enough that every channel is cut into several tiles; 11025 Hz makes a block differ
    // from four 100 ms steps (4410 vs 4 · 1102) and 22050 Hz a window from two hops (2205 vs 1102).
    // Three and six channels pin the weight of 1.41 from the third channel on.
    const struct {
        double rate;
        int channels;
        double seconds;
    } cases[] = {{48000, 2, 31}, {22050, 1, 25}, {11025, 3, 40}, {44100, 6, 12}};
    for (const auto& c : cases) {
        const Signal s = musicLike(c.rate, c.channels, c.seconds, uint32_t(c.rate) + c.channels);
        const AudioStats fast = measure(s), literal = literalMeasurement(s);
        EXPECT_NEAR(fast.lufs, literal.lufs, 2e-4) << c.rate;
        EXPECT_EQ(fast.peak, literal.peak) << c.rate;
        EXPECT_NEAR(fast.rms, literal.rms, 2e-4) << c.rate;
    }
}

TEST(LoudnessMeter, FullScaleSineAndSilenceGiveTheDocumentedFigures) {
    const AudioStats sine = analyze(makeSine(48000, 2, 5, 1000, 1.0f));
    EXPECT_NEAR(sine.peak, 0.0, 1e-4);
    EXPECT_NEAR(sine.rms, -3.0103 + 0.4, 0.005);  // RMS of a sine, plus the +0.4 dB offset

    // Silence is floored at the smallest float, never an error.
    const AudioStats silence = analyze(makeSignal(44100, 2, 44100, [](int, size_t) { return 0.0f; }));
    EXPECT_NEAR(silence.lufs, kSilentLufs, 0.01);
    EXPECT_NEAR(silence.peak, kSilentPeak, 0.01);
    EXPECT_NEAR(silence.rms, kSilentRms, 0.01);
}

TEST(LoudnessMeter, TooFewFramesOrTooLowARateLeaveTheSeriesEmptyWithoutHanging) {
    // At 48 kHz a 100 ms window is 4800 frames, a block 19200; both bounds are strict. At 15 Hz the
    // window is 1 frame but the hop 0, so no RMS series; at 5 Hz there is no window step at all.
    const struct {
        double rate;
        size_t frames;
        bool hasBlocks, hasRms;
    } cases[] = {{48000, 4800, false, false}, {48000, 4801, false, true}, {48000, 19200, false, true},
                 {48000, 19201, true, true},  {15, 900, true, false},     {5, 300, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frames << " frames at " << c.rate << " Hz");
        const Signal noise = makeNoise(c.rate, 2, double(c.frames) / c.rate, 0.5f, 7);
        const AudioStats s = c.rate < 100 ? measure(noise) : analyze(noise);  // no file at 15 Hz
        EXPECT_EQ(s.lufs > -100, c.hasBlocks) << s.lufs;
        EXPECT_EQ(s.rms > -100, c.hasRms) << s.rms;
        if (c.rate < 100) {
            EXPECT_NEAR(s.rms, kSilentRms, 0.01);
        }
        EXPECT_GT(s.peak, -7.0);  // the peak is always there
    }
}

TEST(LoudnessMeter, LongFilesAreMeasuredOnTheirCentralTwoMinutesOnly) {
    // 6 minutes and one frame at 8 kHz: the window is 960000 frames from (2880001 − 960000) / 2 =
    // 960000. A loud 1 kHz tone fills everything outside it, right up to its first and last frame.
    const double rate = 8000;
    const size_t length = 2880001, start = 960000, window = 960000;
    const Signal quiet = makeNoise(rate, 2, 120, 0.01f, 8);
    const Signal file = makeSignal(rate, 2, length, [&](int c, size_t i) {
        if (i < start || i >= start + window) return 0.9f * float(std::sin(2 * M_PI * 1000 * double(i) / rate));
        return quiet.channels[c][i - start];
    });
    // Same samples: the system's figures are identical; the delivery figures cover the whole song.
    const AudioStats whole = analyze(file, WavSampleFormat::int16), centre = analyze(quiet, WavSampleFormat::int16);
    EXPECT_EQ(whole.lufs, centre.lufs);
    EXPECT_EQ(whole.peak, centre.peak);
    EXPECT_EQ(whole.rms, centre.rms);
    EXPECT_GT(whole.truePeak, -1.0f);
    EXPECT_LT(centre.truePeak, -30.0f);
    EXPECT_GT(whole.lufsR128, centre.lufsR128 + 20.0f);

    // Markers at the first and last frame: measured at exactly sr · 120 frames; two frames more
    // and the window starts at frame 1, leaving both out.
    for (const auto& [frames, markersMeasured] : {std::pair{size_t(960000), true}, std::pair{size_t(960002), false}}) {
        const AudioStats s = analyze(makeSignal(rate, 1, frames, [&](int, size_t i) {
            return i == 0 || i == frames - 1 ? 1.0f : 0.01f;
        }));
        EXPECT_EQ(s.peak > -1, markersMeasured) << frames;
    }
}

TEST(LoudnessMeter, WhenEveryBlockIsBelowTheGateAllOfThemCount) {
    // The figure follows the level (60 dB down) instead of falling to silence.
    const Signal loud = makeNoise(48000, 2, 5.05, 0.5f, 31);
    EXPECT_NEAR(analyze(scaledFrom(loud, 0, 1e-3f, {0, 1})).lufs, analyze(loud).lufs - 60, 0.01);
}

TEST(LoudnessMeter, ReportsEmptyAndUnreadableFiles) {
    ScratchFolder folder;
    writeWav(folder / "empty.wav", Signal{44100, {{}, {}}});
    auto result = analyzeAudioFile(folder / "empty.wav");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), (Error{"KorvantaApp", 4, "Audio file is empty"}));

    // Opening errors reach the caller as the reader gave them.
    result = analyzeAudioFile(folder / "missing.wav");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), AudioFileReader::open(folder / "missing.wav").error());
}

TEST(LoudnessMeter, ConcurrentCallsGiveTheSameFigures) {
    ScratchFolder folder;
    writeWav(folder / "a.wav", musicLike(44100, 2, 8, 40));
    writeWav(folder / "b.wav", makeNoise(48000, 1, 6, 0.2f, 41));
    const AudioStats expected[] = {analyzeAudioFile(folder / "a.wav").value(),
                                   analyzeAudioFile(folder / "b.wav").value()};
    std::vector<std::thread> threads;
    std::vector<AudioStats> results(8);
    for (size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            auto r = analyzeAudioFile(folder / (t % 2 ? "b.wav" : "a.wav"));
            if (r.ok()) results[t] = r.value();
        });
    }
    for (auto& thread : threads) thread.join();
    for (size_t t = 0; t < results.size(); ++t) EXPECT_EQ(results[t], expected[t % 2]) << t;
}

}  // namespace
}  // namespace korvanta::test
