#include "engine/MasteringRenderer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <fstream>
#include <random>
#include <tuple>
#include <vector>

#include "engine/PeakLimiter.h"
#include "platform/AudioDecoder.h"
#include "platform/WavWriter.h"
#include "EngineTestSupport.h"

namespace korvanta::test {
namespace {

// The limiter written the plain way: a ring of lookahead samples, a full scan for the peak and
// the two target-dependent branches, sample by sample.
class ReferenceLimiter {
public:
    ReferenceLimiter(float gain, float targetLUFS, float ceilingDb, const LimiterTiming& timing)
        : gain_(gain), target_(targetLUFS), ceiling_(exp10f(ceilingDb / 20.0f)), timing_(timing),
          ring_(size_t(timing.lookaheadSamples), 0.0f) {
        if (std::isnan(ceiling_)) ceiling_ = 1.0f;
    }

    float process(float sample) {
        float x = gain_ * sample;
        if (std::isnan(x)) x = 0.0f;
        if (std::isinf(x)) x = x > 0 ? FLT_MAX : -FLT_MAX;
        ring_[position_] = x;
        position_ = (position_ + 1) % ring_.size();
        float peak = 0.0f;
        for (float v : ring_) peak = std::max(peak, std::fabs(v));

        const bool loud = target_ >= -13.0f;
        const float limit = (loud ? 0.99f : 0.97f) * ceiling_;
        float desired = 1.0f, coef = g_ > 1.0f ? timing_.attackCoef : timing_.releaseCoef;
        if (peak > limit) {
            desired = limit / peak;
            if (desired < g_) {
                coef = timing_.attackCoef;
            } else {
                desired = std::min(loud ? desired * 1.1f : desired, 1.0f);
                coef = timing_.releaseCoef;
            }
        }
        g_ = coef * g_ + (1.0f - coef) * desired;
        float y = x * g_;
        const float k = loud ? 0.99f : 0.95f, d = loud ? 4.0f : 3.0f;
        if (y > k) y = k + (1.0f - k) * std::tanh(d * (y - k));
        if (y < -k) y = -k - (1.0f - k) * std::tanh(d * (-y - k));
        return y;
    }

private:
    float gain_, target_, ceiling_;
    LimiterTiming timing_;
    std::vector<float> ring_;
    size_t position_ = 0;
    float g_ = 1.0f;
};

uint32_t passChunkFrames(double sampleRate) {
    return uint32_t(sampleRate * (physicalMemoryBytes() > 8'000'000'000ull ? 2.0 : 1.0));
}

struct Pass {
    float target = -14.0f, ceiling = -1.0f, gain = 1.0f;
    int bpm = 0;
    MasteringProgress progress = {};
    MasteringCancelled cancelled = {};
};

// What a pass must write: the reference limiter over every channel, quantised as the file is.
Signal expectedRendering(const Signal& in, const Pass& pass, int bits) {
    Signal out = in;
    for (auto& channel : out.channels) {
        ReferenceLimiter limiter(pass.gain, pass.target, pass.ceiling, limiterTimingForTempo(pass.bpm, in.sampleRate));
        for (float& v : channel) v = float(quantizeSample(limiter.process(v), bits)) / float(1 << (bits - 1));
    }
    return out;
}

// Every sample of every channel equal; stops at the first difference.
void expectSameSamples(const Signal& out, const Signal& expected, const char* why) {
    ASSERT_EQ(out.frameCount(), expected.frameCount()) << "the rendering keeps the song's length";
    ASSERT_EQ(out.channelCount(), expected.channelCount());
    for (int ch = 0; ch < out.channelCount(); ++ch) {
        for (size_t i = 0; i < out.frameCount(); ++i) {
            ASSERT_EQ(out.channels[ch][i], expected.channels[ch][i]) << "channel " << ch << " frame " << i << ": " << why;
        }
    }
}

TEST(LimiterTiming, FollowsTheTempoTable) {
    const struct {
        int bpm;
        double rate;
        int lookahead;
        float attack, release;
    } cases[] = {
        {0, 44100, 16, 0.001f, 0.06f},        // no tempo
        {-5, 44100, 16, 0.001f, 0.06f},       // below zero also means no tempo
        {128, 44100, 32, 0.001f, 0.044625f},  // Int(0.001·44100·3) = 132, clamped to 32
        {60, 44100, 32, 0.0012f, 0.15f},      // (1000 · 0.15) / 1000 clamped to 0.15
        {80, 44100, 32, 0.0012f, 0.1125f},    // 750 · 0.15
        {100, 44100, 32, 0.0012f, 0.075f},    // 600 · 0.125
        {101, 44100, 32, 0.001f, 0.073515f},  // 594.06 · 0.12375, and the attack steps down
        {141, 44100, 32, 0.0008f, 0.037191f}, // 425.53 · 0.0874
        {600, 44100, 32, 0.0008f, 0.02f},     // a negative factor ends at the lower clamp
        {150, 8000, 19, 0.0008f, 0.0328f},    // 400 · 0.082; Int(0.0008·8000·3) = 19 is inside the clamp
        {150, 2000, 8, 0.0008f, 0.0328f},     // 4.8 samples is raised to 8
    };
    for (const auto& c : cases) {
        const LimiterTiming t = limiterTimingForTempo(c.bpm, c.rate);
        EXPECT_EQ(t.lookaheadSamples, c.lookahead) << "bpm " << c.bpm << " at " << c.rate;
        EXPECT_FLOAT_EQ(t.attackSeconds, c.attack) << "bpm " << c.bpm;
        EXPECT_NEAR(t.releaseSeconds, c.release, 2e-6) << "bpm " << c.bpm;
    }
}

TEST(PeakLimiter, EqualsThePlainReferenceSampleForSample) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int bpm : {0, 70, 95, 128, 175}) {
        for (float target : {-14.0f, -13.0f, -8.0f}) {
            const float gain = 0.5f + 3.0f * std::abs(unit(random)), ceiling = -3.0f * std::abs(unit(random));
            // Bursts and silences, so the limiter attacks, holds and releases.
            std::vector<float> in(30000);
            for (size_t i = 0; i < in.size(); ++i) {
                in[i] = ((i / 3000) % 3 == 0 ? 0.05f : (i / 3000) % 3 == 1 ? 1.2f : 0.5f) * unit(random);
            }
            const LimiterTiming timing = limiterTimingForTempo(bpm, bpm % 2 ? 48000.0 : 44100.0);
            ReferenceLimiter reference(gain, target, ceiling, timing);
            PeakLimiter limiter(gain, target, ceiling, timing);

            // Uneven block sizes, so state crosses every kind of boundary.
            std::vector<float> out = in;
            size_t done = 0;
            for (uint32_t block : {1u, 7u, 31u, 32u, 33u, 1000u, 1024u, 1025u, 4096u}) {
                const uint32_t n = uint32_t(std::min<size_t>(block, out.size() - done));
                limiter.process(out.data() + done, n);
                done += n;
            }
            limiter.process(out.data() + done, uint32_t(out.size() - done));
            // Out of place, with an output bound that lies below the loud targets' knee.
            const float bound = 0.98f;
            PeakLimiter bounded(gain, target, ceiling, timing, bound);
            std::vector<float> boundedOut(in.size(), 7.0f);
            bounded.process(in.data(), boundedOut.data(), uint32_t(in.size()));

            for (size_t i = 0; i < in.size(); ++i) {
                const float expected = reference.process(in[i]);
                ASSERT_EQ(out[i], expected) << "sample " << i << ", bpm " << bpm << ", target " << target;
                ASSERT_EQ(boundedOut[i], std::clamp(expected, -bound, bound)) << "sample " << i;
            }
        }
    }
}

TEST(PeakLimiter, KeepsOutputFiniteForAnyGainOrSample) {
    const struct {
        float gain, sample, ceiling;
        const char* why;
    } cases[] = {
        {INFINITY, 0.0f, -1.0f, "silence times an infinite gain stays silent"},
        {INFINITY, 1e-6f, -1.0f, "an infinite gain on quiet noise is limited, not infinite"},
        {1e30f, 1e20f, -1.0f, "an overflowing product is limited like any loud sample"},
        {NAN, 0.5f, -1.0f, "a NaN gain renders silence"},
        {1.0f, NAN, -1.0f, "a NaN sample renders as silence"},
        {4.0f, 0.5f, NAN, "a NaN ceiling counts as 0 dBFS"},
        {4.0f, 0.5f, -INFINITY, "a ceiling of −∞ dB limits towards silence without NaN"},
    };
    const LimiterTiming timing = limiterTimingForTempo(120, 44100);
    for (const auto& c : cases) {
        PeakLimiter limiter(c.gain, -14.0f, c.ceiling, timing);
        ReferenceLimiter reference(c.gain, -14.0f, c.ceiling, timing);
        std::vector<float> x(5000);
        for (size_t i = 0; i < x.size(); ++i) x[i] = (i % 2 ? -1.0f : 1.0f) * c.sample;
        x[100] = 0.0f;
        std::vector<float> y = x;
        limiter.process(y.data(), uint32_t(y.size()));
        for (size_t i = 0; i < y.size(); ++i) {
            ASSERT_TRUE(std::isfinite(y[i]) && std::fabs(y[i]) <= 1.0f) << c.why << " (sample " << i << ")";
            ASSERT_EQ(y[i], reference.process(x[i])) << c.why;
        }
        if (c.sample == 0.0f || std::isnan(c.sample) || std::isnan(c.gain)) {
            EXPECT_EQ(y.back(), 0.0f) << c.why;
        } else if (c.ceiling == -INFINITY) {
            EXPECT_LT(std::fabs(y.back()), 1e-3f) << c.why;
        } else {
            EXPECT_GT(std::fabs(y.back()), 0.5f) << c.why;
        }
        EXPECT_TRUE(std::isfinite(limiter.currentGain())) << "the limiter state stays usable";
    }
}

TEST(PeakLimiter, PullsASustainedOverloadDownToTheCeiling) {
    PeakLimiter limiter(1.0f, -14.0f, -1.0f, limiterTimingForTempo(0, 44100));
    std::vector<float> y(4410, 1.2f);
    limiter.process(y.data(), uint32_t(y.size()));
    const float limit = 0.97f * 0.89125f;  // target −14, ceiling −1 dBFS
    EXPECT_LT(y[0], 0.99f) << "the first samples overshoot, but the clipper keeps them below 1";
    EXPECT_GT(y[0], 0.95f) << "and above its knee";
    EXPECT_NEAR(y[5 * 44], limit, 0.01 * limit) << "settled after five 1 ms attack time constants";
    EXPECT_NEAR(y.back(), limit, 1e-4) << "a sustained overload sits at the limit";
}

TEST(PeakLimiter, SoftClipKneeDependsOnTheTarget) {
    // A ceiling of +6 dB keeps the limiter out of the way, so only the clipper acts.
    const struct {
        float target, in, expected;
        const char* why;
    } cases[] = {
        {-14.0f, 0.94f, 0.94f, "below the 0.95 knee of quiet targets nothing changes"},
        {-14.0f, 0.96f, 0.95f + 0.05f * std::tanh(3.0f * 0.01f), "quiet targets bend from 0.95"},
        {-8.0f, 0.96f, 0.96f, "loud targets keep 0.96"},
        {-13.0f, 1.0f, 0.99f + (1.0f - 0.99f) * std::tanh(4.0f * 0.01f), "from −13 LUFS the knee is 0.99, drive 4"},
        {-14.0f, -0.96f, -(0.95f + 0.05f * std::tanh(3.0f * 0.01f)), "negative samples mirror"},
    };
    for (const auto& c : cases) {
        PeakLimiter limiter(1.0f, c.target, 6.0f, limiterTimingForTempo(120, 44100));
        std::vector<float> y(100, c.in);
        limiter.process(y.data(), uint32_t(y.size()));
        EXPECT_NEAR(y.back(), c.expected, 1e-6) << c.why;
    }
}

// A decoder that fails on chosen reads, to see what a pass does with a damaged stretch.
class FlakyDecoder : public AudioDecoder {
public:
    FlakyDecoder(Signal signal, std::function<bool(int64_t)> failsAt)
        : signal_(std::move(signal)), failsAt_(std::move(failsAt)) {}
    AudioFormat format() const override { return {signal_.sampleRate, signal_.channelCount()}; }
    int64_t length() const override { return int64_t(signal_.frameCount()); }
    Result<uint32_t> read(int64_t start, float* const* channels, uint32_t frameCount) override {
        if (failsAt_(start)) return Error{errc::kAudioFile, errc::kReadFailed, "damaged"};
        const auto n = uint32_t(std::min<int64_t>(frameCount, length() - start));
        for (int c = 0; c < signal_.channelCount(); ++c) {
            std::copy_n(signal_.channels[size_t(c)].begin() + start, n, channels[c]);
        }
        return n;
    }

private:
    Signal signal_;
    std::function<bool(int64_t)> failsAt_;
};

class MasteringPass : public ::testing::Test {
protected:
    template <class Input>
    Status render(Input&& input, const std::filesystem::path& output, const Pass& p = {}) {
        return renderMasteringPass(input, output, p.target, p.ceiling, p.gain, p.bpm, p.progress, p.cancelled,
                                   preferences);
    }
    ScratchFolder folder;
    MemoryPreferences preferences;
    const double rate = 8000;  // small files that still span several chunks
    const uint32_t chunk = passChunkFrames(rate);
};

TEST_F(MasteringPass, WritesTheLimitedSongAcrossChunksWithItsLengthAndBitDepth) {
    const uint32_t frames = chunk * 2 + 1234;  // the last chunk partial
    Signal in = makeNoise(rate, 2, double(frames) / rate, 0.9f, 5);
    for (size_t i = 0; i < frames; ++i) in.channels[1][i] *= (i / 4000) % 2 ? 1.0f : 0.2f;
    writeWav(folder / "song.wav", in);
    const Pass pass{-10.0f, -0.5f, 1.7f, 126};
    for (const auto& [highQuality, bits, codec] : {std::tuple{false, 16, "pcm_s16le"}, {true, 24, "pcm_s24le"}}) {
        preferences.setBool("highQualityMode", highQuality);
        const auto output = folder / ("out" + std::to_string(bits)) / "song_master.wav";
        const Status status = render(folder / "song.wav", output, pass);
        ASSERT_TRUE(status.ok()) << status.error().description();
        EXPECT_EQ(ffprobeStreamField(output, "codec_name"), codec) << "integer PCM; highQualityMode picks 24-bit";
        expectSameSamples(readAll(output), expectedRendering(in, pass, bits),
                          "each channel keeps its own limiter across chunks");
    }
}

TEST_F(MasteringPass, NeverReachesFullScaleEvenWhenTheClipperSaturates) {
    // Bursts driven 60 dB over the ceiling: the limiter's attack lets the first samples of every
    // burst through at full gain, and the clipper's curve rounds to exactly ±1.0 in float.
    writeWav(folder / "bursts.wav", makeSignal(rate, 1, 16000, [](int, size_t i) {
                       return (i / 50) % 2 ? ((i / 400) % 2 ? 0.9f : -0.9f) : 0.0f;
                   }));
    for (const bool highQuality : {false, true}) {
        preferences.setBool("highQualityMode", highQuality);
        const auto output = folder / (highQuality ? "m24.wav" : "m16.wav");
        ASSERT_TRUE(render(folder / "bursts.wav", output, {-8.0f, -0.3f, 1000.0f, 128}).ok());
        const Signal out = readAll(output);
        float loudest = 0.0f;
        for (float x : out.channels[0]) loudest = std::max(loudest, std::fabs(x));
        EXPECT_LT(loudest, 1.0f) << "no sample of a master reaches full scale, negative side included";
        EXPECT_GT(loudest, 0.999f) << "the bursts are driven into the clipper";
    }
}

TEST_F(MasteringPass, ReportsProgressForwardInHundredthsAndEndsAtOne) {
    writeWav(folder / "song.wav", makeNoise(rate, 1, 150.0 * chunk / rate, 0.5f, 2));
    std::vector<double> reports;
    const Status status =
        render(folder / "song.wav", folder / "m.wav", {.progress = [&](double p) { reports.push_back(p); }});
    ASSERT_TRUE(status.ok()) << status.error().description();
    ASSERT_GT(reports.size(), 20u) << "150 chunks give many reports";
    EXPECT_EQ(reports.front(), 0.0) << "0 comes first";
    EXPECT_EQ(reports.back(), 1.0) << "1.0 comes last";
    for (size_t i = 1; i + 1 < reports.size(); ++i) {
        EXPECT_GE(reports[i] - reports[i - 1], 0.01) << "reports are at least 0.01 apart, at " << i;
    }
    EXPECT_GE(reports[reports.size() - 1], reports[reports.size() - 2]) << "never backwards";
}

TEST_F(MasteringPass, StopsBeforeTheNextChunkWhenCancelledAndKeepsWhatWasWritten) {
    writeWav(folder / "song.wav", makeNoise(rate, 2, 5.0 * chunk / rate, 0.5f, 3));
    int asked = 0;
    const Status status =
        render(folder / "song.wav", folder / "m.wav", {.bpm = 120, .cancelled = [&] { return ++asked == 3; }});
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(), cancelledError());
    EXPECT_EQ(status.error().message, "The process was canceled by the user");
    EXPECT_EQ(asked, 3) << "asked before each chunk, and nothing after the answer";
    EXPECT_EQ(readAll(folder / "m.wav").frameCount(), 2u * chunk)
        << "the two chunks before the cancellation stay in the partial output";
}

TEST_F(MasteringPass, ReplacesFailedReadsWithATenthOfASecondOfSilenceAndKeepsTheLength) {
    const Signal in = makeNoise(rate, 2, 3.0 * chunk / rate, 0.8f, 9);
    for (const bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable ? "every read fails" : "the second chunk's read fails");
        AudioFileReader reader(std::make_unique<FlakyDecoder>(in, [&](int64_t at) { return unreadable || at == chunk; }));
        std::vector<double> reports;
        const Pass pass{-9.0f, -0.3f, 1.3f, 128, [&](double p) { reports.push_back(p); }};
        ASSERT_TRUE(render(reader, folder / "m.wav", pass).ok()) << "a failed read is never an error";

        Signal damaged = in;  // what the pass saw: 800 frames of silence where the read failed
        for (auto& ch : damaged.channels) {
            std::fill(ch.begin() + (unreadable ? 0 : chunk), unreadable ? ch.end() : ch.begin() + chunk + 800, 0.0f);
        }
        expectSameSamples(readAll(folder / "m.wav"), expectedRendering(damaged, pass, 16),
                          "silence runs through the limiter, then reading resumes after it");
        EXPECT_EQ(reports.back(), 1.0);
    }
}

TEST_F(MasteringPass, CreatesTheFolderAndReplacesAnOldRendering) {
    writeWav(folder / "song.wav", makeSine(rate, 1, 0.5, 440, 0.5f));
    const auto output = folder / "a" / "b" / "song_master.wav";
    std::filesystem::create_directories(output.parent_path());
    std::ofstream(output) << "an old rendering";
    const Status status = render(folder / "song.wav", output);
    ASSERT_TRUE(status.ok()) << status.error().description();
    EXPECT_EQ(readAll(output).frameCount(), 4000u) << "the old file was removed and replaced";

    const auto nested = folder / "x" / "y" / "z.wav";
    ASSERT_TRUE(render(folder / "song.wav", nested).ok());
    EXPECT_TRUE(std::filesystem::exists(nested)) << "missing folders are created";
}

TEST_F(MasteringPass, FailsWithoutAnOutputWhenTheInputCannotBeOpenedOrBuffered) {
    const auto output = folder / "m.wav";
    const Status missing = render(folder / "nope.wav", output);
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().is(errc::kAudioFile, errc::kNoSuchFile)) << "the reader's error is passed on";

    // A format whose chunk buffer could never be allocated.
    struct Huge : FlakyDecoder {
        using FlakyDecoder::FlakyDecoder;
        int64_t length() const override { return int64_t(1) << 40; }
    };
    AudioFileReader reader(std::make_unique<Huge>(Signal{4e9, std::vector<std::vector<float>>(64, {0.0f})},
                                                  [](int64_t) { return true; }));
    const Status noBuffer = render(reader, output);
    ASSERT_FALSE(noBuffer.ok());
    EXPECT_EQ(noBuffer.error(), (Error{"KorvantaApp", 2, "Could not create audio buffer"}));
    EXPECT_FALSE(std::filesystem::exists(output)) << "nothing is created when nothing can be rendered";
}

}  // namespace
}  // namespace korvanta::test
