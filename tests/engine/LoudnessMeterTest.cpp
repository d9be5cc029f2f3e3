// The loudness measurement: against libebur128 as an independent reference, against a literal
// step-by-step computation (the fast path tiles and re-orders the work), and at its edges:
// silence, short files, the central window of long files, channel weights, gating, errors.
#include <gtest/gtest.h>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <thread>

#include "engine/Biquad.h"
#include "engine/LoudnessMeasurement.h"
#include "engine/LoudnessMeter.h"
#include "platform/AudioFileReader.h"
#include "support/TestAudio.h"

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
    std::vector<const float*> planes;
    for (const auto& ch : s.channels) planes.push_back(ch.data());
    return measureLoudness(planes.data(), s.channelCount(),
                           static_cast<uint32_t>(s.frameCount()), float(s.sampleRate));
}

double ebur128Integrated(const Signal& s) {
    ebur128_state* st = ebur128_init(unsigned(s.channelCount()), unsigned(s.sampleRate),
                                     EBUR128_MODE_I);
    std::vector<float> interleaved;
    for (size_t i = 0; i < s.frameCount(); ++i) {
        for (const auto& ch : s.channels) interleaved.push_back(ch[i]);
    }
    ebur128_add_frames_float(st, interleaved.data(), s.frameCount());
    double lufs = 0;
    ebur128_loudness_global(st, &lufs);
    ebur128_destroy(&st);
    return lufs;
}

// The measurement exactly as its steps read: whole K-weighted copies, plain loops, every window
// summed directly.
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

    std::vector<std::vector<float>> weighted;
    for (const auto& ch : s.channels) {
        for (float v : ch) peak = std::max(peak, double(std::fabs(v)));
        const float hpA[] = {1.0f, -1.99004745483398f, 0.99007225036621f};
        const float shB[] = {1.53512485958697f, -2.69169618940638f, 1.19839281085285f};
        const float shA[] = {1.0f, -1.69065929318241f, 0.73248077421585f};
        const float hpB[] = {1.0f, -2.0f, 1.0f};
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

TEST(LoudnessMeter, MatchesLibebur128MinusHalfALoudnessUnit) {
    // 48 kHz, lengths that end between two 100 ms steps, so both see the same blocks; every block
    // passes both gates.
    struct Case {
        const char* name;
        Signal signal;
    };
    Signal mix = musicLike(48000, 2, 12.05, 4);
    Signal stepped = makeNoise(48000, 2, 10.05, 0.3f, 5);
    for (size_t i = stepped.frameCount() / 2; i < stepped.frameCount(); ++i) {
        stepped.channels[0][i] *= 0.5f;  // 6 dB down in the second half, one channel
    }
    const Case cases[] = {
        {"sine 1 kHz −20 dBFS", makeSine(48000, 2, 10.05, 1000, 0.1f)},
        {"sine 40 Hz (high-pass)", makeSine(48000, 2, 10.05, 40, 0.5f)},
        {"sine 9 kHz (shelf)", makeSine(48000, 2, 10.05, 9000, 0.3f)},
        {"loud noise", makeNoise(48000, 2, 10.05, 0.9f, 1)},
        {"quiet noise", makeNoise(48000, 2, 10.05, 0.003f, 2)},
        {"mono noise", makeNoise(48000, 1, 10.05, 0.4f, 3)},
        {"stepped noise", stepped},
        {"music-like mix", mix},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(analyze(c.signal).lufs, ebur128Integrated(c.signal) - 0.5, 0.01) << c.name;
    }
}

TEST(LoudnessMeter, FastPathEqualsTheLiteralStepsAtAnyRateAndChannelCount) {
    // Long enough that every channel is cut into several tiles; 11025 Hz makes a block differ
    // from four 100 ms steps (4410 vs 4 · 1102) and 22050 Hz a window from two hops (2205 vs 1102).
    struct Case {
        double rate;
        int channels;
        double seconds;
    };
    for (const Case c : {Case{48000, 2, 31}, Case{22050, 1, 25}, Case{11025, 3, 40},
                         Case{44100, 6, 12}}) {
        const Signal s = musicLike(c.rate, c.channels, c.seconds, uint32_t(c.rate) + c.channels);
        const AudioStats fast = measure(s), literal = literalMeasurement(s);
        EXPECT_NEAR(fast.lufs, literal.lufs, 2e-4) << c.rate;
        EXPECT_EQ(fast.peak, literal.peak) << c.rate;
        EXPECT_NEAR(fast.rms, literal.rms, 2e-4) << c.rate;
    }
}

TEST(LoudnessMeter, FullScaleSineAndSilenceGiveTheDocumentedFigures) {
    const AudioStats sine = analyze(makeSine(48000, 2, 5, 1000, 1.0f));
    EXPECT_NEAR(sine.peak, 0.0, 1e-4);           // the sine reaches ±1.0 exactly
    EXPECT_NEAR(sine.rms, -3.0103 + 0.4, 0.005);  // RMS of a sine, plus the +0.4 dB offset

    // Silence is floored at the smallest float, never an error.
    const AudioStats silence = analyze(makeSignal(44100, 2, 44100, [](int, size_t) { return 0.0f; }));
    EXPECT_NEAR(silence.lufs, kSilentLufs, 0.01);
    EXPECT_NEAR(silence.peak, kSilentPeak, 0.01);
    EXPECT_NEAR(silence.rms, kSilentRms, 0.01);
}

TEST(LoudnessMeter, ShortFilesLeaveTheSeriesEmpty) {
    struct Case {
        size_t frames;
        bool hasBlocks, hasRms;
    };
    // At 48 kHz a 100 ms window is 4800 frames, a block 19200; both bounds are strict.
    for (const Case c : {Case{4800, false, false}, Case{4801, false, true}, Case{19200, false, true},
                         Case{19201, true, true}}) {
        const AudioStats s = analyze(makeNoise(48000, 2, double(c.frames) / 48000, 0.5f, 7));
        EXPECT_EQ(s.lufs > -100, c.hasBlocks) << c.frames << " frames: " << s.lufs;
        EXPECT_EQ(s.rms > -100, c.hasRms) << c.frames << " frames: " << s.rms;
        EXPECT_GT(s.peak, -7.0) << c.frames;  // the peak is always there
    }
}

TEST(LoudnessMeter, RatesTooLowForAHopOrAWindowGiveEmptySeriesInsteadOfHanging) {
    struct Case {
        float rate;
        bool hasBlocks;  // block Int(0.4·sr) ≥ 1 and step Int(0.1·sr) ≥ 1
    };
    // 15 Hz: window 1 frame but hop 0, so no RMS series; 5 Hz: no window step at all.
    for (const Case c : {Case{15, true}, Case{5, false}}) {
        const AudioStats s = measure(makeNoise(c.rate, 2, 60, 0.5f, 6));
        EXPECT_EQ(s.lufs > -100, c.hasBlocks) << c.rate;
        EXPECT_NEAR(s.rms, kSilentRms, 0.01) << c.rate;
        EXPECT_GT(s.peak, -7.0) << c.rate;
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
    // Same decoder path, same samples: the system's figures must be identical; the delivery
    // figures are the whole song's, loud noise included.
    const AudioStats whole = analyze(file, WavSampleFormat::int16), centre = analyze(quiet, WavSampleFormat::int16);
    EXPECT_EQ(whole.lufs, centre.lufs);
    EXPECT_EQ(whole.peak, centre.peak);
    EXPECT_EQ(whole.rms, centre.rms);
    EXPECT_GT(whole.truePeak, -1.0f);
    EXPECT_LT(centre.truePeak, -30.0f);
    EXPECT_GT(whole.lufsR128, centre.lufsR128 + 20.0f);
}

TEST(LoudnessMeter, FilesUpToTwoMinutesStartAtTheirFirstFrame) {
    // A marker at the first and the last frame. At exactly sr · 120 frames both are measured;
    // two frames more and the window starts at frame 1, leaving both out.
    const double rate = 8000;
    for (const auto& [frames, markersMeasured] : {std::pair{size_t(960000), true},
                                                 std::pair{size_t(960002), false}}) {
        const AudioStats s = analyze(makeSignal(rate, 1, frames, [&](int, size_t i) {
            return i == 0 || i == frames - 1 ? 1.0f : 0.01f;
        }));
        EXPECT_EQ(s.peak > -1, markersMeasured) << frames;
    }
}

TEST(LoudnessMeter, ChannelsFromTheThirdOnWeighOnePointFourOne) {
    // Each channel alone as a mono file gives its own K-weighted power (mono weighs 1.0, checked
    // against libebur128 above); the 6-channel figure must be their weighted sum.
    const double rate = 48000;
    const float levels[] = {0.3f, 0.2f, 0.25f, 0.1f, 0.15f, 0.05f};
    Signal six;
    six.sampleRate = rate;
    double expectedPower = 0;
    for (int c = 0; c < 6; ++c) {
        Signal mono = makeNoise(rate, 1, 6.05, levels[c], 20 + c);
        const double lufs = analyze(mono).lufs;
        expectedPower += (c >= 2 ? 1.41 : 1.0) * std::pow(10.0, (lufs + 1.191) / 10);
        six.channels.push_back(mono.channels[0]);
    }
    EXPECT_NEAR(analyze(six).lufs, 10 * std::log10(expectedPower) - 1.191, 0.005);
}

TEST(LoudnessMeter, GatesDropQuietBlocksUnlessNothingElseIsLeft) {
    // Loud noise, then near-silence far below −70 dB: the quiet blocks are dropped, as
    // libebur128's gates drop them (a plain mean would read about 3 dB lower).
    Signal gated = makeNoise(48000, 2, 10.05, 0.3f, 30);
    for (auto& ch : gated.channels) {
        for (size_t i = ch.size() / 2; i < ch.size(); ++i) ch[i] *= 1e-4f;
    }
    EXPECT_NEAR(analyze(gated).lufs, ebur128Integrated(gated) - 0.5, 0.01);

    // Everything below the absolute gate: all blocks count, so the figure follows the level
    // (60 dB down from the same noise at full level) instead of falling to silence.
    const Signal loud = makeNoise(48000, 2, 5.05, 0.5f, 31);
    Signal whisper = loud;
    for (auto& ch : whisper.channels) {
        for (float& v : ch) v *= 1e-3f;
    }
    EXPECT_NEAR(analyze(whisper).lufs, analyze(loud).lufs - 60, 0.01);
}

TEST(LoudnessMeter, ReportsEmptyAndUnreadableFiles) {
    ScratchFolder folder;
    Signal empty;
    empty.sampleRate = 44100;
    empty.channels.assign(2, {});
    writeWav(folder / "empty.wav", empty);
    auto result = analyzeAudioFile(folder / "empty.wav");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), (Error{"KorvantaApp", 4, "Audio file is empty"}));

    // Opening errors reach the caller as the reader gave them.
    const auto missing = folder / "missing.wav";
    result = analyzeAudioFile(missing);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), AudioFileReader::open(missing).error());
}

TEST(LoudnessMeter, ConcurrentCallsGiveTheSameFigures) {
    ScratchFolder folder;
    writeWav(folder / "a.wav", musicLike(44100, 2, 8, 40));
    writeWav(folder / "b.wav", makeNoise(48000, 1, 6, 0.2f, 41));
    const AudioStats a = analyzeAudioFile(folder / "a.wav").value();
    const AudioStats b = analyzeAudioFile(folder / "b.wav").value();

    std::vector<std::thread> threads;
    std::vector<AudioStats> results(8);
    for (size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            auto r = analyzeAudioFile(folder / (t % 2 ? "b.wav" : "a.wav"));
            if (r.ok()) results[t] = r.value();
        });
    }
    for (auto& thread : threads) thread.join();
    for (size_t t = 0; t < results.size(); ++t) EXPECT_EQ(results[t], t % 2 ? b : a) << t;
}

}  // namespace
}  // namespace korvanta::test
