#include "engine/AudioEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/StereoStages.h"
#include "EngineTestSupport.h"
#include "support/ProgressLog.h"

namespace korvanta::test {
namespace {

// An enabled record with the given band gains.
EQSettings enabled(std::initializer_list<std::pair<size_t, float>> gains = {}) {
    EQSettings s{.isEnabled = true};
    for (auto [band, gain] : gains) s.bands[band].gain = gain;
    return s;
}

// Filters `x` through the active bands (|gain| > 0.1, first 27) from the given histories, the
// plain way: one sample at a time through processSample.
void filterReference(const EQSettings& s, float rate, std::vector<FilterState>& states, std::vector<float>& x) {
    states.resize(27);
    for (size_t b = 0; b < std::min<size_t>(27, s.bands.size()); ++b) {
        if (std::fabs(s.bands[b].gain) <= 0.1f) continue;
        const auto k = BiquadCoefficients::peaking(s.bands[b].frequency, s.bands[b].gain, s.bands[b].q, rate);
        for (float& v : x) v = processSample(k, states[b], v);
    }
}

TEST(AudioEngineBuffer, ReturnsTheVerySameBufferWhenThereIsNothingToDo) {
    AudioEngine engine;
    const auto input = makeBuffer(makeNoise(44100, 2, 0.05, 0.5f, 1));
    const auto before = channelOf(*input, 0);

    EQSettings disabled{.isEnabled = false, .masterGain = 6.0f, .stereoEnhancementEnabled = true, .stereoWidth = 2.0f};
    disabled.bands[3].gain = 8.0f;
    EXPECT_EQ(engine.processAudioBuffer(input, disabled, true, true).get(), input.get())
        << "a disabled record leaves audio alone, gain, bands, width and soft clip included";

    EQSettings idle{.isEnabled = true, .masterGain = 0.005f, .stereoEnhancementEnabled = true, .stereoWidth = 1.0f,
                    .midEnhancementEnabled = true, .midAmount = 1.01f};
    for (auto& band : idle.bands) band.gain = 0.1f;
    idle.bands[0].gain = -0.1f;
    EXPECT_EQ(engine.processAudioBuffer(input, idle, true, false).get(), input.get())
        << "gains within ±0.1 dB, width 1.0, mid within 0.01 and gain within 0.01 dB do nothing";
    EXPECT_EQ(engine.processAudioBuffer(nullptr, enabled(), true, true), nullptr);
    EXPECT_EQ(channelOf(*input, 0), before) << "the input is never written to";
}

TEST(AudioEngineBuffer, AnyActiveStageMakesANewBufferOfTheSameShape) {
    const struct {
        const char* what;
        std::function<void(EQSettings&)> set;
        bool softClip;
    } cases[] = {
        {"band gain 0.11 dB", [](EQSettings& s) { s.bands[5].gain = 0.11f; }, false},
        {"band cut −0.11 dB", [](EQSettings& s) { s.bands[0].gain = -0.11f; }, false},
        {"width 1.02", [](EQSettings& s) { s.stereoEnhancementEnabled = true; s.stereoWidth = 1.02f; }, false},
        {"mid 1.02", [](EQSettings& s) { s.midEnhancementEnabled = true; s.midAmount = 1.02f; }, false},
        {"master gain 0.02 dB", [](EQSettings& s) { s.masterGain = 0.02f; }, false},
        {"soft clip alone", [](EQSettings&) {}, true},
    };
    for (const auto& c : cases) {
        AudioEngine engine;
        std::shared_ptr<PcmBuffer> shared = PcmBuffer::allocate({48000, 2}, 600);
        shared->setFrameLength(500);
        EQSettings s = enabled();
        c.set(s);
        const auto out = engine.processAudioBuffer(shared, s, true, c.softClip);
        ASSERT_NE(out.get(), shared.get()) << c.what << " is something to do";
        EXPECT_EQ(out->format(), shared->format()) << c.what;
        EXPECT_EQ(out->frameCapacity(), 600u) << c.what;
        EXPECT_EQ(out->frameLength(), 500u) << c.what;
    }
}

TEST(AudioEngineBuffer, RunsTheChainInItsOrder) {
    // Width, bands, mid, gain and soft clip do not commute, so only the right order matches.
    const Signal in = makeSignal(44100, 2, 4096, [](int c, size_t i) {
        return 0.6f * float(std::sin(0.05 * double(i) * (c + 1))) + (c ? 0.1f : -0.2f);
    });
    EQSettings s{.isEnabled = true, .masterGain = 5.0f, .stereoEnhancementEnabled = true, .stereoWidth = 1.7f,
                 .midEnhancementEnabled = true, .midAmount = 1.4f};
    s.bands[2].gain = 6.0f, s.bands[7].gain = -4.5f;
    const auto out = AudioEngine().processAudioBuffer(makeBuffer(in), s, false, true);

    auto expected = makeBuffer(in);
    applyStereoWidth(*expected, 44100.0f, 1.7f);
    for (int c = 0; c < 2; ++c) {
        std::vector<FilterState> states;
        std::vector<float> x = channelOf(*expected, c);
        filterReference(s, 44100.0f, states, x);
        std::copy(x.begin(), x.end(), expected->channel(c));
    }
    applyMidEnhancement(*expected, 1.4f);
    applyMasterGain(*expected, 5.0f);
    applySoftClip(*expected);
    for (int c = 0; c < 2; ++c) EXPECT_EQ(channelOf(*out, c), channelOf(*expected, c)) << "channel " << c;
}

TEST(AudioEngineBands, FiltersOnlyTheFirst27BandsAndSkipsGainsOfATenth) {
    const Signal in = makeNoise(44100, 1, 0.2, 0.5f, 11);
    AudioEngine engine;
    const auto run = [&](const EQSettings& s) {
        return channelOf(*engine.processAudioBuffer(makeBuffer(in), s, false, false), 0);
    };
    EQSettings first27{.bands = {}, .isEnabled = true};
    for (int b = 0; b < 27; ++b) {
        first27.bands.push_back({40.0f * float(b + 1), b % 2 ? 3.0f : -3.0f, EQBandType::peaking, 2.0f});
    }
    EQSettings many = first27, tenth = first27, without4 = first27;
    many.bands.push_back({40.0f * 28, 3.0f, EQBandType::peaking, 2.0f});
    EXPECT_EQ(run(many), run(first27)) << "band 28 is never filtered";

    tenth.bands.push_back({100.0f, 0.1f, EQBandType::peaking, 1.0f});  // at position 27 anyway
    tenth.bands[4].gain = 0.1f;
    without4.bands[4].gain = 0.0f;
    EXPECT_EQ(run(tenth), run(without4)) << "a band at exactly 0.1 dB is skipped";
    tenth.bands[4].gain = 0.11f;
    EXPECT_NE(run(tenth), run(without4)) << "0.11 dB is filtered";
}

TEST(AudioEngineBands, SharesSlotOneAmongChannelsOneToFiveInTurn) {
    const Signal in = makeNoise(44100, 6, 0.02, 0.5f, 3);
    const EQSettings s = enabled({{6, 7.0f}, {9, -5.0f}});
    const auto out = AudioEngine().processAudioBuffer(makeBuffer(in), s, false, false);

    std::vector<FilterState> slot0, slot1;
    std::vector<float> ch0 = in.channels[0];
    filterReference(s, 44100.0f, slot0, ch0);
    EXPECT_EQ(channelOf(*out, 0), ch0) << "channel 0 has slot 0 to itself";
    for (int c = 1; c < 6; ++c) {
        std::vector<float> x = in.channels[size_t(c)];
        filterReference(s, 44100.0f, slot1, x);  // continues from the previous channel's history
        EXPECT_EQ(channelOf(*out, c), x) << "channel " << c << " runs on from channel " << c - 1;
    }
}

TEST(AudioEngineBands, KeepStateCarriesHistoriesAndItsAbsenceResetsThem) {
    const Signal in = makeNoise(44100, 2, 0.05, 0.5f, 8);
    const EQSettings s = enabled({{1, 9.0f}});
    AudioEngine engine;
    const auto run = [&](bool keepState) {
        return channelOf(*engine.processAudioBuffer(makeBuffer(in), s, keepState, false), 1);
    };
    const auto fresh = run(false);
    EXPECT_NE(run(true), fresh) << "keep-state continues from the previous buffer's history";
    EXPECT_EQ(run(false), fresh) << "without keep-state every call starts from zeroed histories";
    run(true);
    engine.resetFilterStates();
    EXPECT_EQ(run(true), fresh) << "resetFilterStates zeroes the histories";
}

TEST(AudioEngineFile, RendersInChunksExactlyAsOnePieceAndReportsUpTo95Percent) {
    ScratchFolder folder;
    const Signal in = makeNoise(44100, 2, 100000.0 / 44100, 0.5f, 21);  // 3 chunks and a bit
    writeWav(folder / "in.wav", in);
    EQSettings s{.isEnabled = true, .masterGain = -2.0f, .midEnhancementEnabled = true, .midAmount = 1.3f};
    s.bands[0].gain = 4.0f, s.bands[6].gain = -6.0f, s.bands[11].gain = 3.0f;

    AudioEngine engine;
    engine.processAudioBuffer(makeBuffer(in), s, true, false);  // leaves histories behind
    ProgressLog log;
    const Status status = engine.processAudioFile(folder / "in.wav", folder / "out.wav", s, log.updater.get());
    ASSERT_TRUE(status.ok()) << status.error().description();

    const Signal out = readAll(folder / "out.wav");
    const auto whole = engine.processAudioBuffer(makeBuffer(in), s, false, false);
    ASSERT_EQ(out.frameCount(), in.frameCount());
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(out.channels[size_t(c)], channelOf(*whole, c))
            << "32,768-frame chunks with carried histories equal filtering in one piece, and the "
               "rendering starts from reset histories";
    }
    const auto reports = log.until(0.95);
    ASSERT_FALSE(reports.empty());
    EXPECT_DOUBLE_EQ(reports.back(), 0.95) << "the file renderer reports up to 0.95";
    EXPECT_DOUBLE_EQ(reports.front(), 0.31) << "32768 / 100000 · 0.95, truncated to hundredths";
}

TEST(AudioEngineFile, AnEmptyInputGivesAnEmptyFloatWavAndNoProgress) {
    ScratchFolder folder;
    writeWav(folder / "empty.wav", makeSignal(44100, 2, 0, [](int, size_t) { return 0.0f; }));
    ProgressLog log;
    ASSERT_TRUE(AudioEngine().processAudioFile(folder / "empty.wav", folder / "out.wav",
                                               {.isEnabled = true, .masterGain = 3.0f}, log.updater.get()).ok());
    EXPECT_EQ(readAll(folder / "out.wav").frameCount(), 0u);
    EXPECT_EQ(ffprobeStreamField(folder / "out.wav", "sample_fmt"), "flt") << "a 32-bit float WAV";
    EXPECT_EQ(ffprobeStreamField(folder / "out.wav", "channels"), "2") << "with the input's channels";
    log.updater.get()->update(0.5);  // delivered in order: anything queued before would come first
    EXPECT_EQ(log.until(0.5), std::vector<double>{0.5}) << "no progress for an empty file";
}

TEST(AudioEngineFile, PassesOnOpenAndCreateErrors) {
    ScratchFolder folder;
    AudioEngine engine;
    const Status missing = engine.processAudioFile(folder / "nope.wav", folder / "out.wav", enabled(), nullptr);
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().is(errc::kAudioFile, errc::kNoSuchFile));

    writeWav(folder / "in.wav", makeSine(8000, 1, 0.1, 440, 0.5f));
    const Status noFolder = engine.processAudioFile(folder / "in.wav", folder / "no" / "out.wav", enabled(), nullptr);
    ASSERT_FALSE(noFolder.ok()) << "the output's folder is not created here";
    EXPECT_TRUE(noFolder.error().is(errc::kAudioFile, errc::kWriteFailed));
}

}  // namespace
}  // namespace korvanta::test
