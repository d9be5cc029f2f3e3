// The preview player over a fake output, a manual clock, a private engine and a memory store.
#include <QCoreApplication>
#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "engine/AudioEngine.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "playback/AudioPlayerManager.h"
#include "playback/FakeAudioOutput.h"
#include "support/QtTestSupport.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

constexpr double kRate = 44100.0;
constexpr size_t kFrames = 150000;  // three chunks: 65,536 + 65,536 + 18,928

Signal song() { return makeNoise(kRate, 2, double(kFrames) / kRate, 0.5f, 7); }

EQSettings equaliser() {
    EQSettings s;
    s.isEnabled = true;
    s.bands[0].gain = 6.0f;
    s.bands[5].gain = -4.5f;
    s.bands[9].gain = 3.0f;
    s.masterGain = 2.5f;
    return s;
}

// Runs what the player posted to the main thread (prepared chunks, consumed buffers, the end).
// The song from `startFrame` through `engine` (a fresh one when null) in the player's chunks.
Signal equalisedFrom(const Signal& input, size_t startFrame, const EQSettings& settings,
                     AudioEngine* engine = nullptr, size_t endFrame = SIZE_MAX) {
    AudioEngine fresh;
    AudioEngine& reference = engine ? *engine : fresh;
    Signal out;
    out.channels.resize(input.channels.size());
    endFrame = std::min(endFrame, input.frameCount());
    for (size_t at = startFrame; at < endFrame; at += AudioPlayerManager::kChunkFrames) {
        const auto n = uint32_t(std::min<size_t>(AudioPlayerManager::kChunkFrames, endFrame - at));
        std::shared_ptr<PcmBuffer> chunk = PcmBuffer::allocate({kRate, 2}, n);
        for (int c = 0; c < 2; ++c) std::copy_n(input.channels[size_t(c)].begin() + long(at), n, chunk->channel(c));
        chunk->setFrameLength(n);
        auto processed = reference.processAudioBuffer(chunk, settings, true, false);
        for (int c = 0; c < 2; ++c)
            out.channels[size_t(c)].insert(out.channels[size_t(c)].end(), processed->channel(c), processed->channel(c) + n);
    }
    return out;
}

Signal slice(const Signal& s, size_t from, size_t count) {
    Signal out;
    for (const auto& c : s.channels) {
        out.channels.emplace_back(c.begin() + long(std::min(from, c.size())),
                                  c.begin() + long(std::min(c.size(), from + count)));
    }
    return out;
}

// Sample-exact comparison; reports the first difference.
void expectSameAudio(const Signal& expected, const Signal& actual, const char* what) {
    ASSERT_EQ(expected.channels.size(), actual.channels.size()) << what;
    ASSERT_EQ(expected.frameCount(), actual.frameCount()) << what;
    for (size_t c = 0; c < expected.channels.size(); ++c) {
        for (size_t i = 0; i < expected.frameCount(); ++i) {
            if (expected.channels[c][i] != actual.channels[c][i]) {
                FAIL() << what << ": channel " << c << " frame " << i << " expected " << expected.channels[c][i]
                       << " got " << actual.channels[c][i];
            }
        }
    }
}

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override { player = makePlayer(std::make_unique<FakeAudioOutput>()); }

    std::unique_ptr<AudioPlayerManager> makePlayer(std::unique_ptr<AudioOutput> out) {
        if (auto* fake = dynamic_cast<FakeAudioOutput*>(out.get())) output = fake;
        PlayerEnvironment environment;
        environment.output = std::move(out);
        environment.engine = &engine;
        environment.store = &store;
        environment.clock = [this] { return now; };
        environment.background = [](std::function<void()> job) { job(); };
        return std::make_unique<AudioPlayerManager>(std::move(environment));
    }

    QUrl writeSong(const std::string& name, const Signal& signal) {
        writeWav(folder / name, signal, WavSampleFormat::float32);
        return QUrl::fromLocalFile(QString::fromStdString((folder / name).string()));
    }

    void load(const QUrl& url) {
        player->loadAudio(url);
        runPosted();
    }

    // Pulls in device-sized steps, running what the player posts between them, until the output
    // gives nothing more or `limit` frames are in.
    Signal pullAll(size_t limit = SIZE_MAX, uint32_t step = 1000) {
        Signal out;
        out.sampleRate = output->format().sampleRate;
        out.channels.resize(size_t(output->format().channelCount));
        while (out.frameCount() < limit) {
            runPosted();
            maxPending = std::max(maxPending, output->queue().pendingItems());
            const auto want = uint32_t(std::min<size_t>(step, limit - out.frameCount()));
            auto got = output->pull(want);
            if (got.empty() || got[0].empty()) {
                runPosted();
                got = output->pull(want);
                if (got.empty() || got[0].empty()) break;
            }
            for (size_t c = 0; c < got.size(); ++c) out.channels[c].insert(out.channels[c].end(), got[c].begin(), got[c].end());
        }
        return out;
    }

    ScratchFolder folder;
    AudioEngine engine;
    MemoryPreferences store;
    double now = 100.0;
    FakeAudioOutput* output = nullptr;
    std::unique_ptr<AudioPlayerManager> player;
    size_t maxPending = 0;
};

struct RunCase {
    const char* name;
    EQSettings settings;
    const char* file;
    bool original = false;   // the user listens to the original
    bool rendering = false;  // a rendering equalised with the original settings
    bool chunked = false;
    bool equalised = false;
    float compensation = 0.0f;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class PlayerRunTest : public PlayerTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(PlayerRunTest, PlaysTheWholeFileAsOneSegmentOrInChunksOneQueuedAhead) {
    const RunCase& c = GetParam();
    const Signal input = song();
    if (c.rendering) store.setBool(keys::kProcessedWithOriginalEQ, true);
    player->updateEQSettings(c.settings);
    load(writeSong(c.file, input));
    EXPECT_DOUBLE_EQ(player->duration(), double(kFrames) / kRate);
    player->isPlayingOriginal = c.original;
    player->isPlayingProcessedFile = c.rendering;
    player->play();
    EXPECT_EQ(player->playbackState(), PlaybackState::playing);
    EXPECT_EQ(player->isChunkedRun(), c.chunked);
    EXPECT_EQ(player->processingGeneration(), c.chunked ? 1 : 0) << "a segment run leaves the generation alone";
    expectSameAudio(c.equalised ? equalisedFrom(input, 0, c.settings) : input, pullAll(), c.name);
    EXPECT_EQ(maxPending, c.chunked ? 2u : 1u) << "a chunk playing and one queued ahead, never more";
    EXPECT_EQ(output->queue().pendingItems(), 0u);
    EXPECT_FLOAT_EQ(player->currentCompensationDB(), c.compensation) << "the master gain of the live settings";
}

EQSettings wideningAlone() {
    EQSettings s;
    s.stereoEnhancementEnabled = true;
    s.stereoWidth = 1.4f;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PlayerRunTest,
    ::testing::Values(RunCase{"plain", EQSettings{}, "a.wav"},
                      RunCase{"equalised", equaliser(), "a_master.wav", false, false, true, true, 2.5f},
                      RunCase{"wideningPassedThrough", wideningAlone(), "a.wav", false, false, true, false},
                      RunCase{"originalNeverChunked", equaliser(), "a.wav", true, false, false, false},
                      RunCase{"renderingPassedThrough", equaliser(), "a_final.wav", false, true, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerTest, PauseRecordsThePositionAndPlayResumesWhereTheNodePaused) {
    const Signal input = song();
    load(writeSong("a.wav", input));
    player->play();
    (void)pullAll(30000);
    now += 1.5;
    player->pause();
    EXPECT_EQ(player->playbackState(), PlaybackState::paused);
    EXPECT_DOUBLE_EQ(player->currentSeekPosition(), 1.5);
    EXPECT_FLOAT_EQ(player->currentProgress(), float(1.5 / player->duration()));
    EXPECT_TRUE(output->pull(100)[0].empty()) << "a paused node gives nothing";

    now += 20.0;  // time spent paused does not count
    player->play();
    now += 1.0;
    player->updateProgress();
    EXPECT_FLOAT_EQ(player->currentProgress(), float(2.5 / player->duration()));
    expectSameAudio(slice(input, 30000, 10000), pullAll(10000), "resumed exactly where it paused");
}

struct SeekCase {
    float fraction;
    float progress;
    bool schedules;
};

class SeekTest : public PlayerTest, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(SeekTest, ClampsTheFractionAndRestartsThere) {
    const SeekCase c = GetParam();
    const Signal input = song();
    load(writeSong("a.wav", input));
    player->play();
    (void)pullAll(5000);
    player->seek(c.fraction);
    EXPECT_FLOAT_EQ(player->currentProgress(), c.progress);
    EXPECT_EQ(player->playbackState(), PlaybackState::playing) << "a seek never ends a run by itself";
    EXPECT_EQ(player->processingGeneration(), 1) << "a seek while playing advances the generation once";
    const auto startFrame = size_t(double(player->duration() * c.progress) * kRate);
    const Signal heard = pullAll(2000);
    if (c.schedules) {
        expectSameAudio(slice(input, startFrame, 2000), heard, "played from the seek position");
    } else {
        EXPECT_EQ(heard.frameCount(), 0u) << "at the end nothing is scheduled";
    }
}

INSTANTIATE_TEST_SUITE_P(Fractions, SeekTest,
                         ::testing::Values(SeekCase{-0.5f, 0.0f, true}, SeekCase{0.0f, 0.0f, true},
                                           SeekCase{0.5f, 0.5f, true}, SeekCase{1.0f, 1.0f, false},
                                           SeekCase{1.7f, 1.0f, false}),
                         [](const auto& info) {
                             return std::string(info.param.fraction < 0 ? "minus" : "") + "p" +
                                    std::to_string(int(std::fabs(info.param.fraction) * 100));
                         });

TEST_F(PlayerTest, ASeekWhileStoppedOnlyMovesThePosition) {
    load(writeSong("a.wav", song()));
    player->seek(0.25f);
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
    EXPECT_DOUBLE_EQ(player->currentSeekPosition(), player->duration() * 0.25f);
    EXPECT_EQ(output->queue().pendingItems(), 0u);
    EXPECT_EQ(player->processingGeneration(), 0);
}

TEST_F(PlayerTest, ChunksOfASupersededRunAreDiscarded) {
    const Signal input = song();
    player->updateEQSettings(equaliser());
    load(writeSong("a_master.wav", input));
    player->play();  // the first chunk is read; its hand-over to the node is still queued
    player->seek(0.5f);
    EXPECT_EQ(player->processingGeneration(), 3) << "first run, the seek, the new run";
    const auto startFrame = size_t(player->duration() * 0.5f * kRate);
    // A seek keeps the filter histories of the first run's one chunk, which never reached the node.
    AudioEngine reference;
    (void)equalisedFrom(input, 0, equaliser(), &reference, AudioPlayerManager::kChunkFrames);
    expectSameAudio(equalisedFrom(input, startFrame, equaliser(), &reference), pullAll(),
                    "only the new run is heard");
}

// The stop of the next file's segment run discards queued chunks whose completions still carry
// the current generation.
TEST_F(PlayerTest, LateCompletionsOfAStoppedChunkedRunNeverFeedTheNextFile) {
    const Signal second = makeSine(kRate, 2, 2.0, 440.0, 0.3f);
    player->updateEQSettings(equaliser());
    load(writeSong("first_master.wav", song()));
    player->play();
    (void)pullAll(1000);
    ASSERT_EQ(output->queue().pendingItems(), 2u);
    const int64_t generation = player->processingGeneration();

    player->updateEQSettings(EQSettings{});
    load(writeSong("second.wav", second));
    player->play();
    EXPECT_EQ(player->processingGeneration(), generation);
    runPosted();  // the discarded chunks' completions arrive while the new run plays
    EXPECT_EQ(output->queue().pendingItems(), 1u) << "only the new file's segment";
    expectSameAudio(second, pullAll(), "nothing of the earlier file");
}

TEST_F(PlayerTest, TurningTheEqualiserOnRestartsAtTheCurrentPositionInChunks) {
    const Signal input = song();
    load(writeSong("a_master.wav", input));
    player->play();
    (void)pullAll(44100);
    now += 1.0;
    player->updateEQSettings(equaliser());
    EXPECT_TRUE(player->isChunkedRun());
    EXPECT_DOUBLE_EQ(player->currentSeekPosition(), 1.0);
    EXPECT_EQ(player->playbackState(), PlaybackState::playing);
    expectSameAudio(equalisedFrom(input, 44100, equaliser()), pullAll(), "equalised from 1 s with fresh histories");

    // A change that leaves isEnabled alone takes effect from the next chunk, without a restart.
    const uint64_t pulled = output->queue().framesPulled();
    EQSettings louder = equaliser();
    louder.masterGain = 6.0f;
    player->updateEQSettings(louder);
    EXPECT_EQ(output->queue().framesPulled(), pulled);
    EXPECT_TRUE(player->isChunkedRun());
}

TEST_F(PlayerTest, TurningTheEqualiserOnForAnOriginalOrARenderingDoesNotRestart) {
    for (bool original : {true, false}) {
        SCOPED_TRACE(original ? "original" : "processed file");
        load(writeSong("a.wav", song()));
        original ? player->isPlayingOriginal = true : player->isPlayingProcessedFile = true;
        player->play();
        (void)pullAll(1000);
        player->updateEQSettings(equaliser());
        EXPECT_FALSE(player->isChunkedRun());
        EXPECT_EQ(output->queue().pendingItems(), 1u) << "the segment goes on";
        player->updateEQSettings(EQSettings{});
    }
}

TEST_F(PlayerTest, StopResetsTheFilterHistories) {
    const Signal input = song();
    player->updateEQSettings(equaliser());
    load(writeSong("a_master.wav", input));
    player->play();
    (void)pullAll(70000);  // the engine's histories now hold the song
    player->stop();
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
    EXPECT_FLOAT_EQ(player->currentProgress(), 0.0f);
    EXPECT_FALSE(player->isPlayingOriginal);
    EXPECT_FALSE(player->isPlayingProcessedFile);
    EXPECT_FLOAT_EQ(player->currentCompensationDB(), 0.0f);
    EXPECT_EQ(output->queue().pendingItems(), 0u);
    expectSameAudio(equalisedFrom(input, 0, equaliser(), nullptr, 512),
                    equalisedFrom(input, 0, equaliser(), &engine, 512), "carried on as from zero");
}

TEST_F(PlayerTest, ThePlaybackEndsByTheClockAndKeepsTheFlags) {
    load(writeSong("a.wav", song()));
    player->play();
    player->isPlayingProcessedFile = true;
    QSignalSpy stateChanges(player.get(), &AudioPlayerManager::playbackStateChanged);
    now += player->duration() / 2;
    player->updateProgress();
    EXPECT_NEAR(player->currentProgress(), 0.5f, 1e-6);
    now += player->duration() / 2 - 0.05;  // within 0.1 s of the end
    player->updateProgress();
    runPosted();
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
    EXPECT_FLOAT_EQ(player->currentProgress(), 0.0f);
    EXPECT_DOUBLE_EQ(player->currentSeekPosition(), 0.0);
    EXPECT_TRUE(player->isPlayingProcessedFile) << "the flags keep their values";
    EXPECT_EQ(stateChanges.count(), 1);
}

TEST_F(PlayerTest, LoadingWhilePlayingStopsAndResetsThePosition) {
    load(writeSong("a.wav", song()));
    player->play();
    now += 1.0;
    player->seek(0.4f);
    load(writeSong("b.wav", makeSine(kRate, 1, 1.0, 220.0, 0.5f)));
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
    EXPECT_FLOAT_EQ(player->currentProgress(), 0.0f);
    EXPECT_DOUBLE_EQ(player->duration(), 1.0);
    EXPECT_EQ(output->format(), (AudioFormat{kRate, 1})) << "the output follows the file's format";
}

TEST_F(PlayerTest, PlayAskedWhileTheFileOpensStartsOnceItIsOpen) {
    const Signal input = song();
    player->loadAudio(writeSong("a.wav", input));
    EXPECT_TRUE(player->isLoading()) << "the file opens on the worker";
    EXPECT_DOUBLE_EQ(player->duration(), 0.0);
    player->play();
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
    runPosted();
    EXPECT_FALSE(player->isLoading());
    EXPECT_EQ(player->playbackState(), PlaybackState::playing);
    expectSameAudio(input, pullAll(), "played once open");
}

TEST_F(PlayerTest, OnlyTheLastLoadCountsAndAStopCancelsAPendingPlay) {
    player->loadAudio(writeSong("a.wav", song()));
    player->play();
    player->loadAudio(writeSong("b.wav", makeSine(kRate, 1, 1.0, 220.0, 0.5f)));
    runPosted();
    EXPECT_EQ(player->loadedUrl().fileName(), QStringLiteral("b.wav"));
    EXPECT_DOUBLE_EQ(player->duration(), 1.0);
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped) << "the play was asked of the earlier load";

    player->loadAudio(writeSong("c.wav", song()));
    player->play();
    player->stop();
    runPosted();
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
}

TEST_F(PlayerTest, AFileThatDoesNotOpenLeavesNothingToPlay) {
    load(writeSong("a.wav", song()));
    load(QUrl::fromLocalFile(QString::fromStdString((folder / "missing.wav").string())));
    EXPECT_DOUBLE_EQ(player->duration(), 0.0);
    player->play();
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
}

TEST_F(PlayerTest, TheGainAdjustmentStartsAtFourAndFollowsTheLoudnessAndTheEqualiser) {
    EXPECT_TRUE(player->isEngineReady());
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
    EXPECT_FLOAT_EQ(player->currentFileLUFS(), -14.0f);
    EXPECT_FLOAT_EQ(player->currentFilePeak(), -3.0f);
    EXPECT_FLOAT_EQ(player->neededGainAdjustment(), 4.0f) << "−10 − (−14 + 0 + 0)";
    EXPECT_FLOAT_EQ(output->volume(), 1.0f);

    player->setCurrentFileLUFS(-9.0f);
    player->updateGainAdjustment();
    EXPECT_FLOAT_EQ(player->neededGainAdjustment(), -1.0f);
    EQSettings s = equaliser();  // bands 6 − 4.5 + 3 = 4.5 dB above zero, master 2.5
    player->updateEQSettings(s);
    const float contribution = (12 * 5.0f + 4.5f) * 0.1f;
    EXPECT_NEAR(player->neededGainAdjustment(), -10.0f - (-9.0f + 2.5f + contribution), 1e-5);
    s.isEnabled = false;
    player->updateEQSettings(s);
    EXPECT_FLOAT_EQ(player->neededGainAdjustment(), -10.0f - (-9.0f + 2.5f)) << "no band contribution when off";
}

TEST_F(PlayerTest, TheOutputGainScalesWhatIsHeardUntilTheNextStop) {
    const Signal input = song();
    load(writeSong("a.wav", input));
    player->play();
    player->setOutputGainDB(4.2f);
    const float gain = std::pow(10.0f, 4.2f / 20.0f);
    const Signal heard = pullAll(5000);
    for (size_t i = 0; i < 5000; ++i) ASSERT_EQ(heard.channels[1][i], input.channels[1][i] * gain) << i;
    player->stop();
    EXPECT_FLOAT_EQ(output->volume(), 1.0f);
    EXPECT_FLOAT_EQ(player->outputGainDB(), 0.0f);
}

TEST_F(PlayerTest, WithoutADeviceNothingPlays) {
    player = makePlayer(std::make_unique<NoAudioOutput>());
    EXPECT_FALSE(player->isEngineReady());
    load(writeSong("a.wav", song()));
    player->play();
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
    EXPECT_GT(player->duration(), 0.0) << "the file is still loaded";
}

TEST_F(PlayerTest, ALostDeviceStopsPlaybackCleanly) {
    load(writeSong("a.wav", song()));
    player->play();
    output->loseDevice();
    EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
    EXPECT_FALSE(player->isEngineReady());
    EXPECT_EQ(output->queue().pendingItems(), 0u);
    player->play();  // the output opens again when a device is there
    EXPECT_TRUE(player->isEngineReady());
    EXPECT_EQ(player->playbackState(), PlaybackState::playing);
}

}  // namespace
}  // namespace korvanta::test
