#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>

#include "AppTestSupport.h"
#include "app/ResultPlayback.h"
#include "platform/PreferenceKeys.h"
#include "support/FakePanels.h"
#include "support/ManualDelays.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

class ResultPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        panels = installFakePanels();
        delays = installManualDelays();
        player = fakePlayer(engine, store, [this] { return now; }, &output);
        scope = std::make_unique<VectorscopeManager>(store);
        scope->setAutoRefresh(false);

        batch = std::make_unique<BatchProcessor>(store);
        results = std::make_unique<ResultViewModel>(store);
        for (int i = 0; i < 2; ++i) {
            const std::string stem = "song" + std::to_string(i);
            original.push_back(makeNoise(44100, 2, 1.0, 0.25f, uint32_t(10 + i)));
            master.push_back(makeNoise(44100, 2, 1.0, 0.5f, uint32_t(20 + i)));
            finals.push_back(makeNoise(44100, 2, 1.0, 0.4f, uint32_t(30 + i)));
            writeWav(folder / (stem + ".wav"), original.back());
            writeWav(folder / (stem + "_master.wav"), master.back());
            writeWav(folder / (stem + "_final.wav"), finals.back());
        }
        batch->addFiles(std::vector<std::filesystem::path>{folder / "song0.wav", folder / "song1.wav"});
        ASSERT_TRUE(waitUntil([&] { return batch->fileCount() == 2 && batch->pendingAddCount() == 0; }));
        for (int i = 0; i < 2; ++i) {
            AudioFile song = batch->audioFiles()[size_t(i)];
            const std::string stem = "song" + std::to_string(i);
            song.originalStats = AudioStats{-14.0f, -6.0f, -16.0f};
            song.masterStats = AudioStats{-9.8f, -1.0f, -11.0f};
            song.finalStats = AudioStats{-8.0f, -0.5f, -10.0f};
            song.masterURL = folder / (stem + "_master.wav");
            song.finalURL = folder / (stem + "_final.wav");
            song.processingStatus = ProcessingStatus::completed;
            batch->setAudioFile(i, song);
        }
        results->setBatchProcessor(batch.get());
        ASSERT_EQ(results->count(), 2);

        playback = std::make_unique<ResultPlayback>(results.get(), store);
        playback->setPlayer(player.get());
        playback->setVectorscope(scope.get());
        playback->setEqualiserSettings([this] { return managerSettings; });
        playback->setAnalyzeTrack([this](const QUrl& url, bool isOriginal) { analysed.push_back({url, isOriginal}); });
        playback->setLinkPlayer([this](AudioPlayerManager* p) { linked = p; });
        playback->screenAppeared();
    }

    void TearDown() override { playback->screenDisappeared(); }

    // A play button, then what it set going on the main thread (the file opening).
    void toggle(int index, bool isOriginal) {
        playback->togglePlay(index, isOriginal);
        runPosted();
    }

    QUrl fileUrl(const std::string& name) const { return urlOf(folder / name); }

    std::vector<float> pullLeft(uint32_t frames) {
        runPosted();
        auto got = output->pull(frames);
        return got.empty() ? std::vector<float>{} : got[0];
    }

    ScratchFolder folder;
    AudioEngine engine;
    MemoryPreferences store;
    double now = 0.0;
    std::shared_ptr<FakePanelFactory> panels;
    std::shared_ptr<ManualDelays> delays;
    FakeAudioOutput* output = nullptr;
    std::unique_ptr<AudioPlayerManager> player;
    std::unique_ptr<VectorscopeManager> scope;
    std::unique_ptr<BatchProcessor> batch;
    std::unique_ptr<ResultViewModel> results;
    std::unique_ptr<ResultPlayback> playback;
    std::vector<Signal> original, master, finals;
    EQSettings managerSettings;
    std::vector<std::pair<QUrl, bool>> analysed;
    AudioPlayerManager* linked = nullptr;
};

TEST_F(ResultPlaybackTest, TheLeftColumnPlaysTheOriginalUnprocessedWithItsFigures) {
    managerSettings.isEnabled = true;
    managerSettings.bands[3].gain = 5.0f;
    toggle(0, true);
    EXPECT_EQ(player->loadedUrl(), fileUrl("song0.wav"));
    EXPECT_EQ(player->playbackState(), PlaybackState::playing);
    EXPECT_FALSE(player->isChunkedRun()) << "the original never plays through the equaliser";
    EXPECT_FALSE(player->currentEQSettings().isEnabled) << "the neutral settings";
    EXPECT_FLOAT_EQ(player->currentFileLUFS(), -14.0f);
    EXPECT_FLOAT_EQ(player->currentFilePeak(), -6.0f);
    EXPECT_EQ(playback->playingFileIndex(), 0);
    EXPECT_TRUE(playback->playingOriginal());
    EXPECT_EQ(linked, nullptr) << "only a master of a normal batch is linked";
    runPosted();
    ASSERT_EQ(analysed.size(), 2u) << "the reference analysis is asked before and after play";
    EXPECT_EQ(analysed[0], std::make_pair(fileUrl("song0.wav"), true));
    const auto heard = pullLeft(500);
    ASSERT_EQ(heard.size(), 500u);
    for (size_t i = 0; i < 500; ++i) ASSERT_EQ(heard[i], original[0].channels[0][i]) << i;
}

TEST_F(ResultPlaybackTest, TheRightColumnPlaysTheMasterThroughTheLiveEqualiser) {
    managerSettings.isEnabled = true;
    managerSettings.bands[3].gain = 5.0f;
    toggle(1, false);
    EXPECT_EQ(player->loadedUrl(), fileUrl("song1_master.wav"));
    EXPECT_TRUE(player->isChunkedRun());
    EXPECT_EQ(player->currentEQSettings(), managerSettings);
    EXPECT_EQ(linked, player.get());
    EXPECT_FLOAT_EQ(player->currentFileLUFS(), -9.8f);

    managerSettings.isEnabled = false;
    toggle(1, true);
    toggle(1, false);
    EXPECT_FALSE(player->isChunkedRun()) << "with the equaliser off the master plays as one segment";
    EXPECT_EQ(linked, player.get()) << "linked all the same";
}

TEST_F(ResultPlaybackTest, InFinalModeTheCardComparesMasterAndFinalUnprocessed) {
    batch->setIsFinalMode(true);
    managerSettings.isEnabled = true;
    toggle(0, true);
    EXPECT_EQ(player->loadedUrl(), fileUrl("song0_master.wav"));
    EXPECT_FLOAT_EQ(player->currentFileLUFS(), -9.8f);
    toggle(0, false);
    EXPECT_EQ(player->loadedUrl(), fileUrl("song0_final.wav"));
    EXPECT_FALSE(player->isChunkedRun());
    EXPECT_FLOAT_EQ(player->currentFileLUFS(), -8.0f);
    EXPECT_EQ(scope->currentIsOriginal, false) << "nothing is an original in final mode";
}

TEST_F(ResultPlaybackTest, ThePlayingButtonPausesAndPressingItAgainStartsOver) {
    toggle(0, false);
    now = 0.5;
    toggle(0, false);
    EXPECT_EQ(player->playbackState(), PlaybackState::paused);
    EXPECT_EQ(playback->playingFileIndex(), -1);
    toggle(0, false);
    EXPECT_EQ(player->playbackState(), PlaybackState::playing);
    EXPECT_DOUBLE_EQ(player->currentSeekPosition(), 0.0) << "reloaded from the beginning";
    EXPECT_EQ(playback->playingFileIndex(), 0);
}

TEST_F(ResultPlaybackTest, SpaceResumesTheLastPlayedCardWhereItPaused) {
    toggle(1, true);
    EXPECT_EQ(pullLeft(1000).size(), 1000u);
    now = 0.25;
    playback->togglePlayLast();
    EXPECT_EQ(player->playbackState(), PlaybackState::paused);
    playback->togglePlayLast();
    EXPECT_EQ(player->playbackState(), PlaybackState::playing);
    EXPECT_EQ(playback->playingFileIndex(), 1);
    EXPECT_TRUE(playback->playingOriginal());
    const auto heard = pullLeft(100);
    ASSERT_EQ(heard.size(), 100u);
    EXPECT_EQ(heard[0], original[1].channels[0][1000]) << "the node goes on where it paused";
}

TEST_F(ResultPlaybackTest, TheOtherColumnStopsTheFirstAndPlaysFromTheStart) {
    toggle(0, true);
    (void)pullLeft(2000);
    toggle(0, false);
    EXPECT_TRUE(playback->playingFileIndex() == 0 && !playback->playingOriginal());
    const auto heard = pullLeft(10);
    ASSERT_EQ(heard.size(), 10u);
    EXPECT_EQ(heard[0], master[0].channels[0][0]);
}

struct TapCase {
    int card;
    double x;
    float fraction;
};

class SeekTapTest : public ResultPlaybackTest, public ::testing::WithParamInterface<TapCase> {};

// Card 0 plays; a tap on card 1 is ignored.
TEST_P(SeekTapTest, TheBarOfThePlayingCardLeavesFivePercentMarginsAtBothEnds) {
    toggle(0, false);
    playback->seekTap(GetParam().card, GetParam().x, 200.0);
    EXPECT_FLOAT_EQ(player->currentProgress(), GetParam().fraction);
}

INSTANTIATE_TEST_SUITE_P(Taps, SeekTapTest,
                         ::testing::Values(TapCase{0, 0, 0.0f}, TapCase{0, 10, 0.0f}, TapCase{0, 55, 0.25f},
                                           TapCase{0, 100, 0.5f}, TapCase{0, 190, 1.0f}, TapCase{0, 200, 1.0f},
                                           TapCase{1, 100, 0.0f}));

TEST_F(ResultPlaybackTest, TheEndOfTheSongAndTheExportClearThePlayingCard) {
    const std::pair<const char*, std::function<void()>> stops[] = {
        {"the end of the song", [&] { now = 1.0, player->updateProgress(), runPosted(); }},
        {"the export (normal mode: the folder chooser opens)", [&] { results->startExportAll(); }},
    };
    for (const auto& [what, stop] : stops) {
        SCOPED_TRACE(what);
        now = 0.0;
        toggle(0, false);
        ASSERT_EQ(player->playbackState(), PlaybackState::playing);
        stop();
        EXPECT_EQ(player->playbackState(), PlaybackState::stopped);
        EXPECT_EQ(playback->playingFileIndex(), -1);
    }
}

struct MatchCase {
    bool finalMode;
    float leftLufs, leftPeak, rightLufs;
    float gain;
    const char* text;
};

class MatchLevelTest : public ResultPlaybackTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(MatchLevelTest, TheLeftColumnPlaysAtTheRightColumnsLoudness) {
    const auto c = GetParam();
    batch->setIsFinalMode(c.finalMode);
    AudioFile song = batch->audioFiles()[0];
    (c.finalMode ? song.masterStats : song.originalStats) = AudioStats{c.leftLufs, c.leftPeak, -12.0f};
    (c.finalMode ? song.finalStats : song.masterStats) = AudioStats{c.rightLufs, -1.0f, -10.0f};
    batch->setAudioFile(0, song);
    ASSERT_TRUE(waitUntil([&] { return results->count() == 2; }));

    EXPECT_EQ(playback->matchGainText(0), QString()) << "off by default";
    playback->setMatchLevel(true);
    EXPECT_TRUE(store.boolValue(keys::kMatchLevelEnabled).value_or(false));
    EXPECT_TRUE(ResultPlayback(results.get(), store).matchLevel()) << "read back from the store";
    EXPECT_EQ(playback->matchGainText(0), QString::fromLatin1(c.text));

    toggle(0, true);
    EXPECT_FLOAT_EQ(player->outputGainDB(), c.gain);
    const Signal& left = c.finalMode ? master[0] : original[0];
    const float gain = std::pow(10.0f, c.gain / 20.0f);
    const auto heard = pullLeft(4000);
    ASSERT_EQ(heard.size(), 4000u);
    for (size_t i = 0; i < heard.size(); ++i) ASSERT_EQ(heard[i], left.channels[0][i] * gain) << i;

    toggle(0, false);
    EXPECT_FLOAT_EQ(player->outputGainDB(), 0.0f) << "the right column plays as it is";
    playback->setMatchLevel(false);
    toggle(0, true);
    EXPECT_FLOAT_EQ(player->outputGainDB(), 0.0f) << "off: nothing changes";
}

INSTANTIATE_TEST_SUITE_P(Songs, MatchLevelTest,
                         ::testing::Values(MatchCase{false, -14.0f, -6.0f, -9.8f, 4.2f, "+4.2 dB"},
                                           MatchCase{false, -14.0f, -3.0f, -9.0f, 2.9f, "+2.9 dB"},
                                           MatchCase{false, -8.0f, -0.2f, -10.0f, -2.0f, "-2.0 dB"},
                                           MatchCase{true, -9.8f, -1.0f, -8.0f, 0.9f, "+0.9 dB"}));

TEST_F(ResultPlaybackTest, ARequestForTheCurrentPlaybackPointsThePinnedVectorscopeAtIt) {
    NotificationCenter::shared()->post(QString::fromLatin1(notifications::kRequestCurrentPlayback));
    EXPECT_FALSE(scope->hasPanel()) << "nothing plays: nothing happens";
    toggle(1, true);
    NotificationCenter::shared()->post(QString::fromLatin1(notifications::kRequestCurrentPlayback));
    ASSERT_TRUE(scope->currentAnalyzer());
    EXPECT_EQ(scope->currentAnalyzer()->url(), fileUrl("song1.wav"));
    EXPECT_TRUE(scope->isPinned());
    EXPECT_TRUE(scope->isVisible());
    EXPECT_TRUE(store.boolValue(keys::kShowVectorscope).value_or(false));
}

TEST_F(ResultPlaybackTest, AVisibleVectorscopeFollowsTheNewCardUnpinned) {
    scope->showEmptyVectorscope();
    toggle(0, false);
    ASSERT_TRUE(scope->currentAnalyzer());
    EXPECT_EQ(scope->currentAnalyzer()->url(), fileUrl("song0_master.wav"));
    EXPECT_FALSE(scope->isPinned());
    EXPECT_EQ(scope->currentTitle, QStringLiteral("song0.wav"));
}

TEST_F(ResultPlaybackTest, WithoutADeviceTheScreenSaysSoAndNothingPlays) {
    PlayerEnvironment environment;
    environment.output = std::make_unique<NoAudioOutput>();
    environment.engine = &engine;
    environment.store = &store;
    AudioPlayerManager silent(std::move(environment));
    QSignalSpy availability(playback.get(), &ResultPlayback::audioAvailableChanged);
    playback->setPlayer(&silent);
    EXPECT_FALSE(playback->audioAvailable());
    toggle(0, true);
    ASSERT_TRUE(waitUntil([&] { return !silent.isLoading(); }));
    EXPECT_GT(silent.duration(), 0.0) << "the file opened";
    EXPECT_EQ(silent.playbackState(), PlaybackState::stopped);
    playback->setPlayer(player.get());
}

}  // namespace
}  // namespace korvanta::test
