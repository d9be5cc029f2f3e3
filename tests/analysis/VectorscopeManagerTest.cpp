#include <QSignalSpy>

#include <gtest/gtest.h>

#include "analysis/VectorscopeManager.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"
#include "playback/AudioPlayerManager.h"
#include "playback/FakeAudioOutput.h"
#include "support/FakePanels.h"
#include "support/ManualDelays.h"
#include "support/QtTestSupport.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

class VectorscopeFixture : public ::testing::Test {
protected:
    void SetUp() override {
        panels = installFakePanels();
        delays = installManualDelays();
        PlayerEnvironment environment;
        environment.output = std::make_unique<FakeAudioOutput>();
        environment.engine = &engine;
        environment.store = &store;
        environment.clock = [this] { return now; };
        environment.background = [](std::function<void()> job) { job(); };
        player = std::make_unique<AudioPlayerManager>(std::move(environment));
        writeWav(folder / "song.wav", makeNoise(44100, 2, 2.0, 0.6f, 9));
        url = QUrl::fromLocalFile(QString::fromStdString((folder / "song.wav").string()));
        manager = std::make_unique<VectorscopeManager>(store);
        manager->setAutoRefresh(false);
    }

    FakePanel* panel() const { return panels->latest(QStringLiteral("Stereo Vectorscope")); }

    ScratchFolder folder;
    AudioEngine engine;
    MemoryPreferences store;
    double now = 0.0;
    std::shared_ptr<FakePanelFactory> panels;
    std::shared_ptr<ManualDelays> delays;
    std::unique_ptr<AudioPlayerManager> player;
    std::unique_ptr<VectorscopeManager> manager;
    QUrl url;
};

TEST_F(VectorscopeFixture, TheFeedFollowsThePlayerAndEmptiesWhileItIsPaused) {
    VectorscopeFeed feed(url, player.get(), nullptr, false, &engine);
    EXPECT_TRUE(feed.isAnalyzing());
    ASSERT_TRUE(waitUntil([&] { return !feed.isAnalyzing(); }));
    EXPECT_EQ(feed.pointCount(), 128) << "the snapshot shows before anything plays";

    feed.tick();
    EXPECT_EQ(feed.pointCount(), 0) << "nothing plays: an empty plot at the first tick";

    player->loadAudio(url);
    ASSERT_TRUE(waitUntil([&] { return !player->isLoading(); }));
    player->play();
    now = 1.0;
    player->updateProgress();
    feed.tick();
    ASSERT_TRUE(waitUntil([&] { return feed.pointCount() == 128; }));

    player->pause();
    feed.tick();
    EXPECT_EQ(feed.pointCount(), 0) << "pausing empties the plot within one tick";

    player->play();
    feed.tick();
    EXPECT_TRUE(waitUntil([&] { return feed.pointCount() == 128; })) << "resuming fills it again";

    feed.stop();
    player->pause();
    feed.tick();
    EXPECT_EQ(feed.pointCount(), 128) << "a stopped feed publishes nothing more";
}

TEST_F(VectorscopeFixture, OpeningWithNothingPlayingShowsTheEmptyPanelThenAsksForThePlayback) {
    int requests = 0;
    NotificationCenter::shared()->addObserver(QString::fromLatin1(notifications::kRequestCurrentPlayback),
                                              [&] { ++requests; }, manager.get());
    manager->openVectorscope();
    ASSERT_TRUE(panel());
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_FALSE(panel()->contentProperties.value(QStringLiteral("hasSource")).toBool()) << "\"No Audio Playing\"";
    EXPECT_TRUE(manager->isVisible());
    EXPECT_TRUE(manager->isPinned());
    EXPECT_TRUE(store.boolValue(keys::kShowVectorscope).value_or(false));
    EXPECT_EQ(requests, 0);
    delays->advance(0.1);
    EXPECT_EQ(requests, 1);
}

TEST_F(VectorscopeFixture, OpeningWhileASongPlaysFollowsItInItsColour) {
    player->loadAudio(url);
    ASSERT_TRUE(waitUntil([&] { return !player->isLoading(); }));
    player->play();
    manager->currentPlayer = player.get();
    manager->currentURL = url;
    manager->currentIsOriginal = false;
    manager->currentTitle = QStringLiteral("song.wav");
    manager->openVectorscope();
    ASSERT_TRUE(panel());
    ASSERT_TRUE(manager->currentAnalyzer());
    EXPECT_EQ(manager->currentAnalyzer()->url(), url);
    EXPECT_EQ(panel()->contentProperties.value(QStringLiteral("dotColor")).value<QColor>(),
              VectorscopeManager::renderingColor());
    EXPECT_EQ(panel()->contentProperties.value(QStringLiteral("title")).toString(), QStringLiteral("song.wav"));
    EXPECT_EQ(panel()->title, QStringLiteral("Stereo Vectorscope"));
    EXPECT_EQ(delays->pending(), 0u) << "nothing to ask for";
}

TEST_F(VectorscopeFixture, TheFrameIsCentredUntilOneIsStoredAndThenReadBackUnchanged) {
    manager->showEmptyVectorscope();
    EXPECT_EQ(panel()->frame(), (PanelFrame{(1440 - 280) / 2.0, (900 - 260) / 2.0, 280, 260}));
    const PanelFrame moved{412.5, 96, 333, 287};
    panel()->userMoves(moved);
    EXPECT_EQ(store.stringValue(keys::kVectorscopeWindow).value_or(""), "{{412.5, 96}, {333, 287}}");
    manager->closeVectorscope();
    manager->showEmptyVectorscope();
    EXPECT_EQ(panel()->frame(), moved);

    manager->closeVectorscope();  // stores the frame it had
    store.setString(keys::kVectorscopeWindow, "{{10, 20}, {100, 100}}");
    manager->showEmptyVectorscope();
    EXPECT_EQ(panel()->frame(), (PanelFrame{10, 20, 280, 260})) << "enlarged to the minimum size";
}

TEST_F(VectorscopeFixture, HidingAPinnedPanelKeepsItAndHidingAnUnpinnedOneClosesIt) {
    manager->openVectorscope();
    FakePanel* pinned = panel();
    manager->hideVectorscope();
    EXPECT_FALSE(pinned->isVisible());
    EXPECT_FALSE(pinned->closed);
    EXPECT_TRUE(manager->hasPanel());
    EXPECT_FALSE(manager->isVisible());
    EXPECT_TRUE(store.boolValue(keys::kShowVectorscope).value_or(false)) << "a pinned panel comes back";
    VectorscopeManager restored(store);
    EXPECT_TRUE(restored.isVisible());
    EXPECT_TRUE(restored.isPinned());

    manager->setIsPinned(false);
    manager->showEmptyVectorscope();
    manager->hideVectorscope();
    EXPECT_TRUE(pinned->closed);
    EXPECT_FALSE(manager->hasPanel());
    EXPECT_FALSE(store.boolValue(keys::kShowVectorscope).value_or(true));
}

TEST_F(VectorscopeFixture, TheUserClosingThePanelTellsTheMainWindow) {
    int changes = 0;
    NotificationCenter::shared()->addObserver(QString::fromLatin1(notifications::kVectorscopeStateChanged),
                                              [&] { ++changes; }, manager.get());
    manager->openVectorscope();
    panel()->userCloses();
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(manager->isVisible());
    EXPECT_FALSE(manager->isPinned());
    EXPECT_FALSE(manager->hasPanel());
    EXPECT_FALSE(store.boolValue(keys::kShowVectorscope).value_or(true));
}

}  // namespace
}  // namespace korvanta::test
