#include "app/EQManager.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"
#include "reference/ReferenceProfileStore.h"
#include "support/FakePanels.h"
#include "support/ManualDelays.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

namespace fs = std::filesystem;

TEST(AudibleEQ, OnlyChangesBeyondTheThresholdsCountAndWidthOnlyWhileOn) {
    const std::tuple<const char*, std::function<void(EQSettings&)>, bool> cases[] = {
        {"defaults", [](EQSettings&) {}, false},
        {"master 0.05 dB", [](EQSettings& s) { s.masterGain = 0.05f; }, false},
        {"master -0.2 dB", [](EQSettings& s) { s.masterGain = -0.2f; }, true},
        {"band +0.2 dB", [](EQSettings& s) { s.bands[5].gain = 0.2f; }, true},
        {"band +0.1 dB", [](EQSettings& s) { s.bands[5].gain = 0.1f; }, false},
        {"band -3 dB", [](EQSettings& s) { s.bands[11].gain = -3.0f; }, true},
        {"width 1.5, widening off", [](EQSettings& s) { s.stereoWidth = 1.5f; }, false},
        {"width 1.5, widening on", [](EQSettings& s) { s.stereoWidth = 1.5f, s.stereoEnhancementEnabled = true; }, true},
        {"mid 1.005", [](EQSettings& s) { s.midEnhancementEnabled = true, s.midAmount = 1.005f; }, false},
        {"mid 1.2", [](EQSettings& s) { s.midEnhancementEnabled = true, s.midAmount = 1.2f; }, true},
        {"enabled but flat", [](EQSettings& s) { s.isEnabled = true; }, false},
    };
    for (const auto& [what, change, audible] : cases) {
        EQSettings settings;
        change(settings);
        EXPECT_EQ(hasAudibleEQ(settings), audible) << what;
    }
}

TEST(EQPanelFrame, FirstOpeningGoesNearTheCornerAndStoredFramesOutsideTheScreenAreReplaced) {
    const PanelFrame screen{0, 0, 1440, 900};
    EXPECT_EQ(EQManager::restoredFrame(0, 0, 0, 0, screen), (PanelFrame{820, 20, 600, 500}));
    EXPECT_EQ(EQManager::restoredFrame(200, 150, 700, 450, screen), (PanelFrame{200, 150, 700, 450}));
    // x must stay 100 short of the right edge; y inside the screen; sizes over 100.
    EXPECT_EQ(EQManager::restoredFrame(1340, 950, 100, 80, screen), (PanelFrame{820, 20, 600, 500}));
    EXPECT_EQ(EQManager::restoredFrame(1339, 899, 101, 101, screen), (PanelFrame{1339, 899, 101, 101}));
    EXPECT_EQ(EQManager::restoredFrame(-5, -5, 650, 520, screen), (PanelFrame{820, 20, 650, 520}));
    // Another screen's area counts from its own origin.
    EXPECT_EQ(EQManager::restoredFrame(0, 0, 0, 0, PanelFrame{1440, 0, 1920, 1080}),
              (PanelFrame{2740, 20, 600, 500}));
}

// A manager over a memory store with a player on a fake output, a reference manager of its own
// and two songs with renderings; time moves only when told.
class EQManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        panels = installFakePanels();
        delays = installManualDelays();
        player = fakePlayer(engine, store);
        batch = std::make_unique<BatchProcessor>(store);
        batch->setMeasuresOnImport(false);
        for (int i = 0; i < 2; ++i) {
            const std::string stem = "song" + std::to_string(i);
            for (const char* suffix : {".wav", "_master.wav", "_final.wav"}) {
                writeWav(folder / (stem + suffix), makeNoise(44100, 2, 0.1, 0.2f, uint32_t(i + 1)));
            }
        }
        batch->addFiles(std::vector<fs::path>{folder / "song0.wav", folder / "song1.wav"});
        ASSERT_TRUE(waitUntil([&] { return batch->fileCount() == 2 && batch->pendingAddCount() == 0; }));
        reference = std::make_unique<ReferenceTrackManager>(store);
        manager = std::make_unique<EQManager>(store, player.get(), nullptr, reference.get());
        remasters = NotificationCenter::shared()->addObserver(notifications::kRemasterWithEQ,
                                                             [this] { ++remasterPosts; });
    }
    void TearDown() override {
        NotificationCenter::shared()->removeObserver(remasters);
        manager.reset();
        drainEvents();
    }

    // Song `i` as a completed master (and, with `withFinal`, a final rendering too).
    void render(int i, bool withFinal) {
        AudioFile song = batch->audioFiles()[size_t(i)];
        const std::string stem = "song" + std::to_string(i);
        song.masterURL = folder / (stem + "_master.wav");
        song.masterStats = AudioStats{-10.0f, -1.0f, -12.0f};
        if (withFinal) {
            song.finalURL = folder / (stem + "_final.wav");
            song.finalStats = AudioStats{-9.0f, -0.5f, -11.0f};
        }
        song.processingStatus = ProcessingStatus::completed;
        song.isSelected = false;
        batch->setAudioFile(i, song);
    }
    void open() { manager->showPanel(batch.get(), player.get()); }
    FakePanel* panel() const { return panels->latest(QString::fromLatin1(EQManager::kTitle)); }
    // REMASTER neither stores the active record nor posts, however long one waits.
    void expectNothingHappens(const char* why) {
        manager->remasterWithEQ();
        delays->advance(1.0);
        EXPECT_EQ(remasterPosts, 0) << why;
        EXPECT_FALSE(store.contains(keys::kActiveEQSettings)) << why;
    }

    ScratchFolder folder;
    AudioEngine engine;
    MemoryPreferences store;
    std::shared_ptr<FakePanelFactory> panels;
    std::shared_ptr<ManualDelays> delays;
    std::unique_ptr<AudioPlayerManager> player;
    std::unique_ptr<BatchProcessor> batch;
    std::unique_ptr<ReferenceTrackManager> reference;
    std::unique_ptr<EQManager> manager;
    NotificationCenter::Token remasters = 0;
    int remasterPosts = 0;
};

TEST_F(EQManagerTest, ThePanelOpensOnceEnablesTheRecordAndRemembersItsFrame) {
    open();
    FakePanel* p = panel();
    ASSERT_TRUE(p);
    EXPECT_TRUE(manager->isVisible());
    EXPECT_EQ(p->options.minimumSize, QSize(500, 400));
    EXPECT_EQ(p->options.identifier, "EQPanel");
    EXPECT_EQ(p->frame(), (PanelFrame{820, 20, 600, 500})) << "first opening on a 1440 × 900 screen";
    EXPECT_TRUE(manager->eqSettings().isEnabled);
    EXPECT_TRUE(loadEQSettings(keys::kEQSettings, store).isEnabled) << "the working copy is stored enabled";
    EXPECT_FALSE(store.contains(keys::kActiveEQSettings)) << "opening leaves the active copy alone";

    open();
    EXPECT_EQ(panels->made.size(), 1u) << "an open panel is only brought to the front";
    EXPECT_EQ(p->timesBroughtToFront, 2);

    p->userMoves({300, 200, 640, 480});
    EXPECT_EQ(store.doubleValue(keys::kEqPositionX), 300.0);
    EXPECT_EQ(store.doubleValue(keys::kEqHeight), 480.0);
    manager->hidePanel();
    EXPECT_FALSE(manager->isVisible());
    EXPECT_TRUE(p->closed);
    EXPECT_TRUE(manager->eqSettings().isEnabled) << "hiding keeps the equaliser on";
    open();
    EXPECT_EQ(panel()->frame(), (PanelFrame{300, 200, 640, 480}));
}

TEST_F(EQManagerTest, TheUsersCloseSwitchesTheEqualiserOffAndKeepsAnEnabledActiveRecord) {
    for (const bool activeEnabled : {true, false}) {
        saveEQSettings(withBand(2.0f, 5, activeEnabled), keys::kActiveEQSettings, store);
        open();
        panel()->userCloses();
        EXPECT_FALSE(manager->isVisible());
        EXPECT_FALSE(manager->eqSettings().isEnabled);
        EXPECT_FALSE(loadEQSettings(keys::kEQSettings, store).isEnabled);
        EXPECT_FALSE(player->currentEQSettings().isEnabled) << "the player hears it at once";
        EXPECT_EQ(store.contains(keys::kActiveEQSettings), activeEnabled)
            << "an enabled active record stays for a remaster; a disabled one goes";
    }
    open();
    store.remove(keys::kActiveEQSettings);
    panel()->userCloses();
    EXPECT_FALSE(store.contains(keys::kActiveEQSettings)) << "absent counts as disabled";
}

TEST_F(EQManagerTest, PanelEditsReachThePlayerAndTheWorkingCopyOnly) {
    open();
    EQSettings edited = manager->eqSettings();
    edited.bands[3].gain = 4.5f;
    edited.masterGain = -1.0f;
    QSignalSpy changed(manager.get(), &EQManager::eqSettingsChanged);
    manager->applyPanelSettings(edited);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(manager->eqSettings(), edited);
    EXPECT_EQ(player->currentEQSettings(), edited);
    EXPECT_EQ(loadEQSettings(keys::kEQSettings, store), edited);
    EXPECT_FALSE(store.contains(keys::kActiveEQSettings));

    // QML writes a map: a list of gains and named fields.
    QVariantList gains;
    for (int i = 0; i < 12; ++i) gains.append(i == 0 ? 2.5 : 0.0);
    manager->writeSettings({{"bands", gains}, {"midEnhancementEnabled", true}, {"midAmount", 1.4}});
    EXPECT_FLOAT_EQ(manager->eqSettings().bands[0].gain, 2.5f);
    EXPECT_EQ(manager->eqSettings().bands[0].frequency, 32.0f) << "frequencies and Q stay";
    EXPECT_FLOAT_EQ(manager->eqSettings().midAmount, 1.4f);
    EXPECT_FLOAT_EQ(manager->eqSettings().masterGain, -1.0f) << "fields not written keep their value";
    EXPECT_EQ(eqSettingsFromVariant(eqSettingsToVariant(edited), EQSettings{}), edited);
}

TEST_F(EQManagerTest, AnEnabledChangeInTheStoreIsPickedUpOtherChangesAreNot) {
    EQSettings stored = withBand(3.0f);
    saveEQSettings(stored, keys::kEQSettings, store);
    NotificationCenter::shared()->post(notifications::kEQSettingsChanged);
    EXPECT_EQ(manager->eqSettings(), EQSettings{}) << "same isEnabled: nothing reloads";
    stored.isEnabled = true;
    saveEQSettings(stored, keys::kEQSettings, store);
    NotificationCenter::shared()->post(notifications::kEQSettingsChanged);
    EXPECT_EQ(manager->eqSettings(), stored);
    EXPECT_EQ(player->currentEQSettings(), stored);
}

TEST_F(EQManagerTest, RemasterDoesNothingWhenNothingIsAudibleNothingIsRenderedOrABatchRuns) {
    render(0, false);
    open();
    EQSettings quiet = manager->eqSettings();
    quiet.masterGain = 0.05f;
    manager->applyPanelSettings(quiet);
    expectNothingHappens("all bands flat, master gain 0.05 dB");
    EQSettings widthOnly = quiet;
    widthOnly.stereoWidth = 1.5f;
    manager->applyPanelSettings(widthOnly);
    expectNothingHappens("width without widening");
    EXPECT_EQ(batch->audioFiles()[0].processingStatus, ProcessingStatus::completed);

    manager->applyPanelSettings(withBand(3.0f));
    render(0, false);
    AudioFile unrendered = batch->audioFiles()[0];
    unrendered.masterURL.reset();
    batch->setAudioFile(0, unrendered);
    expectNothingHappens("no song has a rendering");

    Gate release;
    batch->setMasteringOperation(instantMastering(AudioStats{-10, -1, -12}, &release));
    batch->processFiles({}, false, false, -14.0f, -0.3f);
    ASSERT_TRUE(batch->isProcessing());
    render(1, false);  // ignored while running: the list is the batch's
    expectNothingHappens("a batch is running");
    release.open();
    ASSERT_TRUE(waitUntil([&] { return !batch->isProcessing(); }));
}

TEST_F(EQManagerTest, RemasterStoresBothKeysRebasesTheSongsAndPostsAfterATenth) {
    render(0, true);
    render(1, false);
    open();
    EQSettings edited = manager->eqSettings();
    edited.bands[2].gain = 0.2f;
    edited.isEnabled = false;  // not consulted
    manager->setEqSettings(edited);
    manager->setIsAutoReferenceMode(true);
    manager->remasterWithEQ();

    for (const char* key : {keys::kEQSettings, keys::kActiveEQSettings}) {
        const EQSettings stored = loadEQSettings(key, store);
        EXPECT_TRUE(stored.isEnabled) << key;
        EXPECT_TRUE(stored.isAutoReferenceMode) << key << ": the manager's matched mode travels along";
        EXPECT_FLOAT_EQ(stored.bands[2].gain, 0.2f) << key;
    }
    EXPECT_FALSE(manager->eqSettings().isEnabled) << "the panel's own record is not changed";

    const AudioFile& both = batch->audioFiles()[0];
    EXPECT_EQ(both.masterURL, folder / "song0_final.wav") << "the next rendering starts from the final";
    EXPECT_EQ(both.masterStats->lufs, -9.0f);
    EXPECT_FALSE(both.finalURL);
    EXPECT_FALSE(both.finalStats);
    EXPECT_TRUE(both.isSelected);
    EXPECT_EQ(both.processingStatus, ProcessingStatus::pending);
    const AudioFile& masterOnly = batch->audioFiles()[1];
    EXPECT_EQ(masterOnly.masterURL, folder / "song1_master.wav");
    EXPECT_EQ(masterOnly.masterStats->lufs, -10.0f);
    EXPECT_EQ(masterOnly.processingStatus, ProcessingStatus::pending);

    delays->advance(0.09);
    EXPECT_EQ(remasterPosts, 0);
    delays->advance(0.02);
    EXPECT_EQ(remasterPosts, 1) << "posted 0.1 s later";
}

TEST_F(EQManagerTest, ASongWhoseRenderingHasGoneIsLeftOutAndKeepsItsState) {
    render(0, false);
    render(1, true);
    fs::remove(folder / "song1_final.wav");
    open();
    manager->applyPanelSettings(withBand(-2.0f));
    manager->remasterWithEQ();
    EXPECT_EQ(batch->audioFiles()[0].processingStatus, ProcessingStatus::pending);
    EXPECT_EQ(batch->audioFiles()[1].processingStatus, ProcessingStatus::completed);
    EXPECT_EQ(batch->audioFiles()[1].finalURL, folder / "song1_final.wav");
    delays->advance(0.2);
    EXPECT_EQ(remasterPosts, 1);

    // Nothing left to rebase: no post.
    fs::remove(folder / "song0_master.wav");
    manager->remasterWithEQ();
    delays->advance(0.2);
    EXPECT_EQ(remasterPosts, 1);
}

class ReferenceEQTest : public EQManagerTest {
protected:
    void SetUp() override {
        SpectralProfile profile;
        profile.frequencies = {20.0f, 20000.0f};
        profile.magnitudes = {-20.0f, -30.0f};
        profile.referenceFileName = "reference.wav";
        profile.spectrum12Band = std::vector<float>(12, 5.0f);
        saveProfile(profile, store);
        EQManagerTest::SetUp();
        ASSERT_TRUE(reference->hasReference());
        reference->setMasteredSpectrum(std::vector<float>(12, 4.0f));
        pulses = NotificationCenter::shared()->addObserver(notifications::kTriggerRemasterPulse, [this] { ++pulseCount; });
    }
    void TearDown() override {
        NotificationCenter::shared()->removeObserver(pulses);
        EQManagerTest::TearDown();
    }
    NotificationCenter::Token pulses = 0;
    int pulseCount = 0;
};

TEST_F(ReferenceEQTest, ApplyingRaisesEveryBandByTheDifferenceAndRemovingRestoresTheSpectra) {
    EQSettings start;
    start.masterGain = -1.5f;
    start.stereoEnhancementEnabled = true;
    start.stereoWidth = 1.3f;
    manager->setEqSettings(start);

    manager->toggleReferenceEQ();
    EXPECT_TRUE(manager->isAutoReferenceMode());
    for (const EQBand& band : manager->eqSettings().bands) EXPECT_FLOAT_EQ(band.gain, 1.0f);
    EXPECT_TRUE(manager->eqSettings().isEnabled);
    EXPECT_EQ(manager->eqSettings().bands[0].q, 0.7f) << "Q values stay";
    EXPECT_EQ(reference->masteredSpectrumValues(), std::vector<float>(12, 5.0f)) << "now shown as the target";
    EXPECT_EQ(reference->originalSpectrumValues(), std::vector<float>(12, 4.0f));
    EXPECT_EQ(loadEQSettings(keys::kActiveEQSettings, store), manager->eqSettings());
    EXPECT_EQ(pulseCount, 1);

    manager->toggleReferenceEQ();
    EXPECT_FALSE(manager->isAutoReferenceMode());
    for (const EQBand& band : manager->eqSettings().bands) EXPECT_EQ(band.gain, 0.0f);
    EXPECT_FLOAT_EQ(manager->eqSettings().masterGain, -1.5f) << "master, stereo and mid untouched";
    EXPECT_TRUE(manager->eqSettings().stereoEnhancementEnabled);
    EXPECT_FLOAT_EQ(manager->eqSettings().stereoWidth, 1.3f);
    EXPECT_EQ(reference->masteredSpectrumValues(), std::vector<float>(12, 4.0f));
    EXPECT_EQ(loadEQSettings(keys::kEQSettings, store), manager->eqSettings());

    // Another song previewed meanwhile: the gains of the first application are reused.
    reference->setMasteredSpectrum(std::vector<float>(12, 2.0f));
    manager->toggleReferenceEQ();
    for (const EQBand& band : manager->eqSettings().bands) EXPECT_FLOAT_EQ(band.gain, 1.0f);
    EXPECT_EQ(manager->savedReferenceEQ(), std::vector<float>(12, 1.0f));
}

TEST_F(ReferenceEQTest, NothingHappensWithoutAReferenceOrWithAnEmptyRenderingSpectrum) {
    reference->setMasteredSpectrum(std::vector<float>(12, 0.0f));
    manager->toggleReferenceEQ();
    EXPECT_FALSE(manager->isAutoReferenceMode());

    reference->setMasteredSpectrum(std::vector<float>(12, 4.0f));
    reference->clearReference();
    EXPECT_FALSE(reference->referenceSpectrumValues().empty()) << "the old values stay behind";
    manager->toggleReferenceEQ();
    EXPECT_FALSE(manager->isAutoReferenceMode()) << "a cleared reference counts as none";
    EXPECT_EQ(manager->eqSettings(), EQSettings{});
    EXPECT_EQ(pulseCount, 0);
}

}  // namespace
}  // namespace korvanta::test
