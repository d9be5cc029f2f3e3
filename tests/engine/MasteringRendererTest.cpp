#include "engine/MasteringRenderer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "engine/PeakLimiter.h"
#include "platform/AudioDecoder.h"
#include "platform/WavWriter.h"
#include "support/TestAudio.h"

namespace korvanta {
namespace {

using test::ScratchFolder;
using test::Signal;

// The limiter written the plain way: a ring of lookahead samples, a full scan for the peak and
// the two target-dependent branches, sample by sample.
class ReferenceLimiter {
public:
    ReferenceLimiter(float gain, float targetLUFS, float ceilingDb, const LimiterTiming& timing)
        : gain_(gain), target_(targetLUFS), timing_(timing),
          ring_(size_t(timing.lookaheadSamples), 0.0f) {
        float c = exp10f(ceilingDb / 20.0f);
        if (std::isnan(c)) c = 1.0f;
        ceiling_ = c;
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
        float desired, coef;
        if (peak <= limit) {
            desired = 1.0f;
            coef = g_ > 1.0f ? timing_.attackCoef : timing_.releaseCoef;
        } else {
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
        const float k = loud ? 0.99f : 0.95f;
        const float d = loud ? 4.0f : 3.0f;
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

// Bits per sample and format tag from a WAV file's "fmt " chunk.
struct WavHeader {
    int formatTag = 0;
    int bitsPerSample = 0;
};

WavHeader readWavHeader(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    auto u16 = [&](size_t at) { return int(uint8_t(bytes[at])) | int(uint8_t(bytes[at + 1])) << 8; };
    auto u32 = [&](size_t at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
    for (size_t at = 12; at + 8 <= bytes.size(); at += 8 + u32(at + 4) + (u32(at + 4) & 1)) {
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0) {
            int tag = u16(at + 8);
            if (tag == 0xFFFE) tag = u16(at + 8 + 24);  // extensible: the sub-format's tag
            return {tag, u16(at + 8 + 14)};
        }
    }
    return {};
}

// What a pass must write: the reference limiter over every channel, quantised as the file is.
Signal expectedRendering(const Signal& in, float gain, float target, float ceiling, int bpm, int bits) {
    Signal out = in;
    const LimiterTiming timing = limiterTimingForTempo(bpm, in.sampleRate);
    for (auto& channel : out.channels) {
        ReferenceLimiter limiter(gain, target, ceiling, timing);
        for (float& v : channel) {
            v = float(quantizeSample(limiter.process(v), bits)) / float(1 << (bits - 1));
        }
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

// --- Timing ---------------------------------------------------------------------------------

TEST(LimiterTiming, FollowsTheTempoTable) {
    struct Case {
        int bpm;
        double rate;
        int lookahead;
        float attack;
        float release;
    };
    const Case cases[] = {
        {0, 44100, 16, 0.001f, 0.06f},       // no tempo
        {-5, 44100, 16, 0.001f, 0.06f},      // below zero also means no tempo
        {128, 44100, 32, 0.001f, 0.044625f}, // Int(0.001·44100·3) = 132, clamped to 32
        {60, 44100, 32, 0.0012f, 0.15f},     // (1000 · 0.15) / 1000 clamped to 0.15
        {80, 44100, 32, 0.0012f, 0.1125f},   // 750 · 0.15
        {100, 44100, 32, 0.0012f, 0.075f},   // 600 · 0.125
        {101, 44100, 32, 0.001f, 0.073515f}, // 594.06 · 0.12375, and the attack steps down
        {141, 44100, 32, 0.0008f, 0.037191f},// 425.53 · 0.0874
        {600, 44100, 32, 0.0008f, 0.02f},    // a negative factor ends at the lower clamp
        {150, 8000, 19, 0.0008f, 0.0328f},   // 400 · 0.082; Int(0.0008·8000·3) = 19 is inside the clamp
        {150, 2000, 8, 0.0008f, 0.0328f},    // 4.8 samples is raised to 8
    };
    for (const Case& c : cases) {
        const LimiterTiming t = limiterTimingForTempo(c.bpm, c.rate);
        EXPECT_EQ(t.lookaheadSamples, c.lookahead) << "bpm " << c.bpm << " at " << c.rate;
        EXPECT_FLOAT_EQ(t.attackSeconds, c.attack) << "bpm " << c.bpm;
        EXPECT_NEAR(t.releaseSeconds, c.release, 2e-6) << "bpm " << c.bpm;
    }
}

// --- The limiter against the plain reference ---------------------------------------------

TEST(PeakLimiter, EqualsThePlainReferenceSampleForSample) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const int tempos[] = {0, 70, 95, 128, 175};
    const float targets[] = {-14.0f, -13.0f, -8.0f};
    int cases = 0;
    for (int bpm : tempos) {
        for (float target : targets) {
            const float gain = 0.5f + 3.0f * std::abs(unit(random));
            const float ceiling = -3.0f * std::abs(unit(random));
            const double rate = bpm % 2 ? 48000.0 : 44100.0;
            // Bursts and silences, so the limiter attacks, holds and releases.
            std::vector<float> in(30000);
            for (size_t i = 0; i < in.size(); ++i) {
                const float envelope = (i / 3000) % 3 == 0 ? 0.05f : (i / 3000) % 3 == 1 ? 1.2f : 0.5f;
                in[i] = envelope * unit(random);
            }
            const LimiterTiming timing = limiterTimingForTempo(bpm, rate);
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
                ASSERT_EQ(out[i], expected) << "sample " << i << ", bpm " << bpm << ", target " << target
                                            << ": the fast limiter must be bit-identical";
                ASSERT_EQ(boundedOut[i], std::clamp(expected, -bound, bound)) << "sample " << i;
            }
            ++cases;
        }
    }
    EXPECT_EQ(cases, 15);
}

TEST(PeakLimiter, KeepsOutputFiniteForAnyGainOrSample) {
    struct Case {
        float gain;
        float sample;
        float ceiling;
        const char* why;
    };
    const Case cases[] = {
        {INFINITY, 0.0f, -1.0f, "silence times an infinite gain stays silent"},
        {INFINITY, 1e-6f, -1.0f, "an infinite gain on quiet noise is limited, not infinite"},
        {1e30f, 1e20f, -1.0f, "an overflowing product is limited like any loud sample"},
        {NAN, 0.5f, -1.0f, "a NaN gain renders silence"},
        {1.0f, NAN, -1.0f, "a NaN sample renders as silence"},
        {4.0f, 0.5f, NAN, "a NaN ceiling counts as 0 dBFS"},
        {4.0f, 0.5f, -INFINITY, "a ceiling of −∞ dB limits towards silence without NaN"},
    };
    for (const Case& c : cases) {
        const LimiterTiming timing = limiterTimingForTempo(120, 44100);
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
    // Target −14, ceiling −1 dBFS: limit 0.97 · 0.891.
    const LimiterTiming timing = limiterTimingForTempo(0, 44100);
    PeakLimiter limiter(1.0f, -14.0f, -1.0f, timing);
    std::vector<float> y(4410, 1.2f);
    limiter.process(y.data(), uint32_t(y.size()));
    const float limit = 0.97f * 0.89125f;  // −1 dBFS
    EXPECT_LT(y[0], 0.99f) << "the first samples overshoot, but the clipper keeps them below 1";
    EXPECT_GT(y[0], 0.95f) << "and above its knee";
    // Five attack time constants (1 ms each) later the gain has settled on the limit.
    EXPECT_NEAR(y[5 * 44], limit, 0.01 * limit);
    EXPECT_NEAR(y.back(), limit, 1e-4) << "a sustained overload sits at the limit";
}

TEST(PeakLimiter, SoftClipKneeDependsOnTheTarget) {
    // A ceiling of +6 dB keeps the limiter out of the way, so only the clipper acts.
    struct Case {
        float target;
        float in;
        float expected;
        const char* why;
    };
    const Case cases[] = {
        {-14.0f, 0.94f, 0.94f, "below the 0.95 knee of quiet targets nothing changes"},
        {-14.0f, 0.96f, 0.95f + 0.05f * std::tanh(3.0f * 0.01f), "quiet targets bend from 0.95"},
        {-8.0f, 0.96f, 0.96f, "loud targets keep 0.96"},
        {-13.0f, 1.0f, 0.99f + (1.0f - 0.99f) * std::tanh(4.0f * 0.01f), "from −13 LUFS the knee is 0.99, drive 4"},
        {-14.0f, -0.96f, -(0.95f + 0.05f * std::tanh(3.0f * 0.01f)), "negative samples mirror"},
    };
    for (const Case& c : cases) {
        PeakLimiter limiter(1.0f, c.target, 6.0f, limiterTimingForTempo(120, 44100));
        std::vector<float> y(100, c.in);
        limiter.process(y.data(), uint32_t(y.size()));
        EXPECT_NEAR(y.back(), c.expected, 1e-6) << c.why;
    }
}

// --- Whole passes ---------------------------------------------------------------------------

class MasteringPass : public ::testing::Test {
protected:
    ScratchFolder folder;
    MemoryPreferences preferences;
};

TEST_F(MasteringPass, WritesTheLimitedSongAcrossChunksWithItsLengthAndBitDepth) {
    // 8 kHz keeps the file small while spanning several chunks, the last one partial.
    const double rate = 8000;
    const uint32_t frames = passChunkFrames(rate) * 2 + 1234;
    Signal in = test::makeNoise(rate, 2, double(frames) / rate, 0.9f, 5);
    in.channels[1].resize(frames), in.channels[0].resize(frames);
    for (size_t i = 0; i < frames; ++i) in.channels[1][i] *= (i / 4000) % 2 ? 1.0f : 0.2f;
    test::writeWav(folder / "song.wav", in);

    struct Case {
        bool highQuality;
        int bits;
    };
    for (const Case c : {Case{false, 16}, Case{true, 24}}) {
        preferences.setBool("highQualityMode", c.highQuality);
        const auto output = folder / ("out" + std::to_string(c.bits)) / "song_master.wav";
        const Status status = renderMasteringPass(folder / "song.wav", output, -10.0f, -0.5f, 1.7f, 126,
                                                  {}, {}, preferences);
        ASSERT_TRUE(status.ok()) << status.error().description();
        EXPECT_EQ(readWavHeader(output).bitsPerSample, c.bits) << "highQualityMode picks 24-bit";
        EXPECT_EQ(readWavHeader(output).formatTag, 1) << "integer PCM";

        expectSameSamples(test::readAll(output), expectedRendering(in, 1.7f, -10.0f, -0.5f, 126, c.bits),
                          "each channel keeps its own limiter across chunks");
    }
}

TEST_F(MasteringPass, NeverReachesFullScaleEvenWhenTheClipperSaturates) {
    // Square-ish bursts driven 60 dB over the ceiling: the limiter's attack lets the first samples
    // of every burst through at full gain, and the clipper's curve rounds to exactly ±1.0 in float.
    const double rate = 8000;
    Signal in = test::makeSignal(rate, 1, 16000, [](int, size_t i) {
        return (i / 50) % 2 ? ((i / 400) % 2 ? 0.9f : -0.9f) : 0.0f;
    });
    test::writeWav(folder / "bursts.wav", in);
    for (const bool highQuality : {false, true}) {
        preferences.setBool("highQualityMode", highQuality);
        const auto output = folder / (highQuality ? "m24.wav" : "m16.wav");
        ASSERT_TRUE(renderMasteringPass(folder / "bursts.wav", output, -8.0f, -0.3f, 1000.0f, 128, {}, {},
                                        preferences).ok());
        const Signal out = test::readAll(output);
        float loudest = 0.0f;
        for (float x : out.channels[0]) loudest = std::max(loudest, std::fabs(x));
        EXPECT_LT(loudest, 1.0f) << "no sample of a master reaches full scale, negative side included";
        EXPECT_GT(loudest, 0.999f) << "the bursts are driven into the clipper";
    }
}

TEST_F(MasteringPass, ReportsProgressForwardInHundredthsAndEndsAtOne) {
    const double rate = 8000;
    const uint32_t chunk = passChunkFrames(rate);
    test::writeWav(folder / "song.wav", test::makeNoise(rate, 1, 150.0 * chunk / rate, 0.5f, 2));
    std::vector<double> reports;
    const Status status = renderMasteringPass(folder / "song.wav", folder / "m.wav", -14.0f, -1.0f, 1.0f, 0,
                                              [&](double p) { reports.push_back(p); }, {}, preferences);
    ASSERT_TRUE(status.ok()) << status.error().description();
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports.front(), 0.0) << "0 comes first";
    EXPECT_EQ(reports.back(), 1.0) << "1.0 comes last";
    EXPECT_GT(reports.size(), 20u) << "150 chunks give many reports";
    for (size_t i = 1; i + 1 < reports.size(); ++i) {
        EXPECT_GE(reports[i] - reports[i - 1], 0.01) << "reports are at least 0.01 apart, at " << i;
    }
    EXPECT_GE(reports[reports.size() - 1], reports[reports.size() - 2]) << "never backwards";
}

TEST_F(MasteringPass, StopsBeforeTheNextChunkWhenCancelledAndKeepsWhatWasWritten) {
    const double rate = 8000;
    const uint32_t chunk = passChunkFrames(rate);
    test::writeWav(folder / "song.wav", test::makeNoise(rate, 2, 5.0 * chunk / rate, 0.5f, 3));
    int asked = 0;
    const Status status = renderMasteringPass(folder / "song.wav", folder / "m.wav", -14.0f, -1.0f, 1.0f, 120,
                                              {}, [&] { return ++asked == 3; }, preferences);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(), cancelledError());
    EXPECT_EQ(status.error().message, "The process was canceled by the user");
    EXPECT_EQ(asked, 3) << "asked before each chunk, and nothing after the answer";
    EXPECT_EQ(test::readAll(folder / "m.wav").frameCount(), 2u * chunk)
        << "the two chunks before the cancellation stay in the partial output";
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

TEST_F(MasteringPass, ReplacesAFailedReadWithATenthOfASecondOfSilenceAndKeepsTheLength) {
    const double rate = 8000;
    const uint32_t chunk = passChunkFrames(rate);
    const uint32_t frames = 3 * chunk;
    const Signal in = test::makeNoise(rate, 2, double(frames) / rate, 0.8f, 9);
    AudioFileReader reader(std::make_unique<FlakyDecoder>(in, [&](int64_t at) { return at == chunk; }));

    const Status status = renderMasteringPass(reader, folder / "m.wav", -9.0f, -0.3f, 1.3f, 128, {}, {}, preferences);
    ASSERT_TRUE(status.ok()) << "a failed read is never an error";

    Signal damaged = in;  // what the pass saw: 800 frames of silence where the read failed
    for (auto& ch : damaged.channels) std::fill_n(ch.begin() + chunk, 800, 0.0f);
    expectSameSamples(test::readAll(folder / "m.wav"), expectedRendering(damaged, 1.3f, -9.0f, -0.3f, 128, 16),
                      "silence runs through the limiter, then reading resumes after it");
}

TEST_F(MasteringPass, AnUnreadableSongBecomesSilenceOfItsLength) {
    const Signal in = test::makeNoise(8000, 1, 2.5, 0.8f, 4);
    AudioFileReader reader(std::make_unique<FlakyDecoder>(in, [](int64_t) { return true; }));
    std::vector<double> reports;
    const Status status = renderMasteringPass(reader, folder / "m.wav", -14.0f, -1.0f, 1.0f, 0,
                                              [&](double p) { reports.push_back(p); }, {}, preferences);
    ASSERT_TRUE(status.ok());
    const Signal out = test::readAll(folder / "m.wav");
    EXPECT_EQ(out.frameCount(), in.frameCount());
    for (float v : out.channels[0]) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(reports.back(), 1.0);
}

TEST_F(MasteringPass, CreatesTheFolderAndReplacesAnOldRendering) {
    test::writeWav(folder / "song.wav", test::makeSine(8000, 1, 0.5, 440, 0.5f));
    const auto output = folder / "a" / "b" / "song_master.wav";
    std::filesystem::create_directories(output.parent_path());
    { std::ofstream(output) << "an old rendering"; }
    const Status status = renderMasteringPass(folder / "song.wav", output, -14.0f, -1.0f, 1.0f, 0, {}, {}, preferences);
    ASSERT_TRUE(status.ok()) << status.error().description();
    EXPECT_EQ(test::readAll(output).frameCount(), 4000u) << "the old file was removed and replaced";

    const auto nested = folder / "x" / "y" / "z.wav";
    ASSERT_TRUE(renderMasteringPass(folder / "song.wav", nested, -14.0f, -1.0f, 1.0f, 0, {}, {}, preferences).ok());
    EXPECT_TRUE(std::filesystem::exists(nested)) << "missing folders are created";
}

TEST_F(MasteringPass, FailsWithoutAnOutputWhenTheInputCannotBeOpenedOrBuffered) {
    const auto output = folder / "m.wav";
    const Status missing = renderMasteringPass(folder / "nope.wav", output, -14.0f, -1.0f, 1.0f, 0, {}, {}, preferences);
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().is(errc::kAudioFile, errc::kNoSuchFile)) << "the reader's error is passed on";

    // A format whose chunk buffer could never be allocated.
    Signal tiny;
    tiny.sampleRate = 4e9;
    tiny.channels.assign(64, std::vector<float>(1));
    struct Huge : FlakyDecoder {
        using FlakyDecoder::FlakyDecoder;
        int64_t length() const override { return int64_t(1) << 40; }
    };
    AudioFileReader reader(std::make_unique<Huge>(tiny, [](int64_t) { return true; }));
    const Status noBuffer = renderMasteringPass(reader, output, -14.0f, -1.0f, 1.0f, 0, {}, {}, preferences);
    ASSERT_FALSE(noBuffer.ok());
    EXPECT_EQ(noBuffer.error(), (Error{"KorvantaApp", 2, "Could not create audio buffer"}));
    EXPECT_FALSE(std::filesystem::exists(output)) << "nothing is created when nothing can be rendered";
}

}  // namespace
}  // namespace korvanta
