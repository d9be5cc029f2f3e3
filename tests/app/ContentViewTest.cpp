#include "app/ContentView.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "AppTestSupport.h"
#include "app/SettingsWindowManager.h"
#include "app/SongListModel.h"
#include "platform/PreferenceKeys.h"
#include "platform/TempFolder.h"
#include "reference/ReferenceTrackManager.h"
#include "support/FakePanels.h"
#include "support/ManualDelays.h"
#include "support/TestAudio.h"

namespace korvanta::test {
namespace {

namespace fs = std::filesystem;

TEST(PresetNaming, ATargetAndThresholdBothWithinATenthNameThePreset) {
    const std::tuple<float, float, std::optional<std::string>> cases[] = {
        {-12.05f, -0.25f, "Events"}, {-12.2f, -0.3f, {}},       {-14.0f, -0.3f, "Radio"}, {-10.0f, -0.2f, "Club"},
        {-8.0f, -0.3f, "Festival"},  {-10.0f, -0.35f, {}},      {-9.95f, -0.15f, "Club"}, {-13.0f, -0.3f, {}},
    };
    for (const auto& [target, threshold, name] : cases) {
        EXPECT_EQ(presetNameFor(target, threshold), name) << target << " " << threshold;
    }
}

TEST(DurationText, MinutesAndSecondsOfWholeSeconds) {
    const std::pair<double, const char*> cases[] = {
        {187.9, "3:07"}, {0.0, "0:00"}, {3600.0, "60:00"}, {std::nan(""), "--:--"}, {-1.0, "--:--"}};
    for (const auto& [seconds, text] : cases) EXPECT_EQ(durationText(seconds), text) << seconds;
}

// A controller over a memory store with songs made on the fly; time moves only when told.
class ContentViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        delays = installManualDelays();
        panels = installFakePanels();
        view = std::make_unique<ContentView>(store);
    }
    void TearDown() override {
        view.reset();
        drainEvents();
    }

    // 0.5 s of stereo noise named `name` in `folder`.
    fs::path song(const fs::path& folder, const std::string& name) {
        fs::create_directories(folder);
        writeWav(folder / name, makeNoise(44100, 2, 0.5, 0.3f, uint32_t(++seed)), WavSampleFormat::int16);
        return folder / name;
    }
    std::vector<fs::path> songs(const fs::path& folder, int count, const std::string& prefix = "song") {
        std::vector<fs::path> out;
        for (int i = 0; i < count; ++i) out.push_back(song(folder, prefix + std::to_string(i) + ".wav"));
        return out;
    }
    void import(const std::vector<fs::path>& paths) {
        QList<QUrl> urls;
        for (const auto& p : paths) urls.append(urlOf(p));
        view->processAudioFiles(urls);
        settle();
    }
    void settle() { ASSERT_TRUE(waitUntil([&] { return !view->batchProcessor()->isAddingFiles(); })); }
    int count() const { return view->batchProcessor()->fileCount(); }
    void post(const char* name) { NotificationCenter::shared()->post(QString::fromLatin1(name)); }
    int observers(const char* name) const { return NotificationCenter::shared()->observerCount(name); }

    MemoryPreferences store;
    ScratchFolder scratch;
    std::shared_ptr<ManualDelays> delays;
    std::shared_ptr<FakePanelFactory> panels;
    std::unique_ptr<ContentView> view;
    int seed = 0;
};

TEST_F(ContentViewTest, FiftySongsAreTheLimitAndAnImportBeyondItIsRefusedWhole) {
    import(songs(scratch / "a", 45));
    ASSERT_EQ(count(), 45);
    songs(scratch / "six", 6, "six");  // would make 51: none of them is taken
    view->importFolder(urlOf(scratch / "six"));
    drainEvents();
    EXPECT_EQ(count(), 45);
    EXPECT_TRUE(view->showMaxFilesWarning());
    delays->advance(2.9);
    EXPECT_TRUE(view->showMaxFilesWarning());
    delays->advance(0.2);
    EXPECT_FALSE(view->showMaxFilesWarning()) << "the warning shows for 3 seconds";

    import(songs(scratch / "b", 5, "b"));
    ASSERT_EQ(count(), 50);
    view->handleDroppedItems({urlOf(song(scratch.path(), "one-more.wav"))});
    drainEvents();
    EXPECT_EQ(count(), 50);
    EXPECT_TRUE(view->showMaxFilesWarning());
}

TEST_F(ContentViewTest, DropsTakeTheFirstItemOnlyAndSkipWhatIsNoAudio) {
    view->handleDroppedItems({urlOf(song(scratch.path(), "a.wav")), urlOf(song(scratch.path(), "b.wav"))});
    settle();
    ASSERT_EQ(count(), 1);
    EXPECT_EQ(view->batchProcessor()->audioFiles()[0].filename, "a.wav");

    // A text file with an audio name, a missing file, a folder whose audio sits in sub-folders.
    std::ofstream(scratch / "notes.mp3") << "not audio";
    song(scratch / "deep" / "inner", "hidden.wav");
    for (const fs::path& p : {scratch / "notes.mp3", scratch / "missing.wav", scratch / "deep"}) {
        view->handleDroppedItems({urlOf(p)});
        settle();
    }
    drainEvents();
    EXPECT_EQ(count(), 1);
    EXPECT_EQ(view->alertTypeText(), "") << "none of these raises an alert";

    view->handleDroppedItems({QUrl("https://example.org/song.mp3")});
    drainEvents();
    EXPECT_EQ(view->alertTypeText(), "invalidFileFormat");
    EXPECT_EQ(view->alertTitle(), "Invalid file format");
    view->dismissAlert();
    EXPECT_EQ(view->alertTypeText(), "");
}

TEST_F(ContentViewTest, ABatchMovesThroughProcessingToResultAndCancelShowsImportAtOnce) {
    import(songs(scratch.path(), 2));
    view->settingsManager()->setTargetLoudness(-12.05f);
    view->settingsManager()->setLimitThreshold(-0.25f);
    store.setBytes(keys::kActiveEQSettings, Bytes{'{', '}'});
    Gate release;
    view->batchProcessor()->setMasteringOperation(instantMastering(AudioStats{-12, -1, -14}, &release));
    view->startMasteringProcess();
    EXPECT_EQ(view->appState(), AppState::processing);
    EXPECT_FALSE(store.contains(keys::kActiveEQSettings)) << "a new batch forgets the active equaliser";
    EXPECT_EQ(view->batchProcessor()->usedPresetName(), "Events");

    view->showCancelConfirmation();
    EXPECT_EQ(view->alertTypeText(), "cancelConfirmation");
    view->cancelProcessing();
    ASSERT_TRUE(waitUntil([&] { return view->appState() == AppState::importFiles; }));
    EXPECT_TRUE(view->batchProcessor()->isProcessing()) << "the running song stops at its next check";
    release.open();
    ASSERT_TRUE(waitUntil([&] { return view->appState() == AppState::result; }))
        << "when the batch returns, the results screen shows";
    EXPECT_EQ(view->batchProcessor()->audioFiles()[1].processingStatus, ProcessingStatus::pending);
}

TEST_F(ContentViewTest, StartingOverEmptiesTheListAndDeletesRenderingsWhileAPlainResetKeepsThem) {
    import(songs(scratch.path(), 3));
    auto folder = privateTempFolder();
    ASSERT_TRUE(folder);
    const fs::path rendering = folder.value() / "song0_master.wav";
    const fs::path trial = folder.value() / "temp_iteration_1_x.wav";
    std::ofstream(rendering) << "x";
    std::ofstream(trial) << "x";

    view->resetApplication(false);
    EXPECT_EQ(count(), 3);
    EXPECT_TRUE(fs::exists(rendering));

    store.setBool(keys::kProcessedWithOriginalEQ, true);
    view->deleteAllAndStartOver();
    EXPECT_EQ(count(), 0);
    EXPECT_EQ(view->appState(), AppState::importFiles);
    EXPECT_FALSE(fs::exists(rendering));
    EXPECT_FALSE(fs::exists(trial)) << "a full reset removes every audio file of the folder";
    EXPECT_FALSE(store.contains(keys::kProcessedWithOriginalEQ));
}

TEST_F(ContentViewTest, CleanAllDataRemovesExactlyTheUsersChoicesAndResetsTheWorkflow) {
    import(songs(scratch.path(), 1));
    view->appear();
    const std::vector<std::string> removed = {
        keys::kExportFormat,      keys::kNormalizationMode, keys::kGlobalArtworkEnabled, keys::kGlobalArtworkData,
        keys::kEQSettings,        keys::kActiveEQSettings,  keys::kShowVectorscope,      keys::kProcessedWithOriginalEQ,
        keys::kStereoEnhancement, keys::kStereoWidth,       keys::kLastUsedPreset};
    const std::vector<std::string> kept = {keys::kSelectedThemeId, keys::kSettingsWindowPosition, keys::kEqPositionX,
                                           keys::kVectorscopeWindow, keys::kReferenceTrackWindowPosition};
    for (const auto& k : removed) store.setString(k, "x");
    for (const auto& k : kept) store.setString(k, "x");
    const float target = view->settingsManager()->targetLoudness();

    SettingsWindowManager settings(store);
    QSignalSpy cleaned(&settings, &SettingsWindowManager::dataCleaned);
    settings.cleanAllData();
    for (const auto& k : removed) EXPECT_FALSE(store.contains(k)) << k;
    for (const auto& k : kept) EXPECT_TRUE(store.contains(k)) << k;
    EXPECT_EQ(store.floatValue(keys::kTargetLoudness), target) << "the loudness settings stay";
    EXPECT_EQ(cleaned.count(), 1);
    EXPECT_EQ(count(), 0) << "the main window resets to defaults";
    EXPECT_EQ(view->appState(), AppState::importFiles);
}

TEST_F(ContentViewTest, SettingsPanelOpensOnceRemembersItsFrameAndReportsItsClose) {
    view->appear();
    view->toggleSettings();
    EXPECT_TRUE(view->showSettings());
    FakePanel* panel = panels->latest("Settings");
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->frame(), (PanelFrame{520, 250, 400, 400})) << "centred on a 1440 × 900 screen";
    SettingsWindowManager::shared()->showSettings(view->settingsManager(), false, false, nullptr, {});
    EXPECT_EQ(panels->made.size(), 1u) << "a visible panel is only brought to the front";

    panel->userMoves({100, 80, 300, 200});
    EXPECT_EQ(panel->frame(), (PanelFrame{100, 80, 400, 400})) << "never smaller than 400 × 400";
    panel->userCloses();
    EXPECT_FALSE(view->showSettings()) << "the toolbar button turns inactive";

    view->toggleSettings();
    ASSERT_TRUE(panels->latest("Settings"));
    EXPECT_EQ(panels->latest("Settings")->frame(), (PanelFrame{100, 80, 400, 400}));
    view->toggleSettings();
    EXPECT_FALSE(SettingsWindowManager::shared()->isVisible());
}

TEST_F(ContentViewTest, AReferenceLoadPulsesTheImportCardAfterASecondAndATenth) {
    view->appear();
    post(notifications::kReferenceTrackLoaded);
    EXPECT_FALSE(view->triggerCardAttention());
    delays->advance(1.0);
    EXPECT_FALSE(view->triggerCardAttention());
    delays->advance(0.11);
    EXPECT_TRUE(view->triggerCardAttention());
    view->disappear();
    EXPECT_EQ(observers(notifications::kReferenceTrackLoaded), 0);
}

TEST_F(ContentViewTest, TheListModelChangesRowByRow) {
    SongListModel model;
    model.setBatchProcessor(view->batchProcessor());
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    import(songs(scratch.path(), 3));
    EXPECT_EQ(inserted.count(), 3);
    EXPECT_EQ(model.rowCount(), 3);
    view->batchProcessor()->toggleSelection(1);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toModelIndex().row(), 1);
    EXPECT_FALSE(model.data(model.index(1), SongListModel::IsSelectedRole).toBool());
    EXPECT_EQ(model.data(model.index(0), SongListModel::DurationTextRole).toString(), "0:00");
    EXPECT_EQ(reset.count(), 0) << "no change resets the delegates";
}

// The panel hub: a controller whose equaliser manager and player are the test's own.
class PanelHubTest : public ContentViewTest {
protected:
    void SetUp() override {
        ContentViewTest::SetUp();
        player = fakePlayer(engine, store);
        eq = std::make_unique<EQManager>(store, player.get());
        view->playback()->setPlayer(player.get());
        view->setEqManager(eq.get());
        view->batchProcessor()->setMasteringOperation(
            instantMastering(AudioStats{-9, -1, -11}, nullptr, [this](bool finalMode, const auto& settings) {
                ++renderings;
                if (finalMode && settings) lastEQ = settings;
            }));
    }
    void TearDown() override {
        view->disappear();
        ContentViewTest::TearDown();
        eq.reset();
    }
    // Two songs mastered; the first also has a final rendering. The screen is shown.
    void mastered(bool appear = true) {
        import(songs(scratch.path(), 2));
        for (int i = 0; i < 2; ++i) {
            AudioFile entry = view->batchProcessor()->audioFiles()[size_t(i)];
            entry.masterURL = entry.url;
            entry.masterStats = AudioStats{-10, -1, -12};
            if (i == 0) {
                entry.finalURL = song(scratch.path(), "final0.wav");
                entry.finalStats = AudioStats{-8, -0.5f, -10};
            }
            entry.processingStatus = ProcessingStatus::completed;
            view->batchProcessor()->setAudioFile(i, entry);
        }
        if (appear) view->appear();
    }
    FakePanel* eqPanel() const { return panels->latest(QString::fromLatin1(EQManager::kTitle)); }
    // The panel opened and one band edited.
    EQSettings editBand(size_t band, float gain) {
        view->toggleEQ();
        EQSettings edited = eq->eqSettings();
        edited.bands[band].gain = gain;
        eq->applyPanelSettings(edited);
        return edited;
    }

    AudioEngine engine;
    std::unique_ptr<AudioPlayerManager> player;
    std::unique_ptr<EQManager> eq;
    std::atomic<int> renderings = 0;
    std::optional<EQSettings> lastEQ;
};

TEST_F(PanelHubTest, TheRemasterObserversAreRegisteredOnlyOutsideFinalMode) {
    const char* always[] = {notifications::kVectorscopeStateChanged, notifications::kSettingsWindowClosed,
                            notifications::kResetApplicationToDefaults, notifications::kStartProcessingWithEQ,
                            notifications::kReferenceTrackLoaded};
    for (const bool finalMode : {false, true}) {
        view->batchProcessor()->setIsFinalMode(finalMode);
        view->appear();
        for (const char* name : always) EXPECT_EQ(observers(name), 1) << name;
        for (const char* name : {notifications::kRemasterWithEQ, notifications::kRemasterWithReference}) {
            EXPECT_EQ(observers(name), finalMode ? 0 : 1) << name << finalMode;
        }
        view->disappear();
        for (const char* name : always) EXPECT_EQ(observers(name), 0) << name;
    }
}

TEST_F(PanelHubTest, TheEqualiserButtonPressedTwiceStoresItOffUnderBothKeysAndClosesThePanel) {
    mastered();
    view->toggleEQ();
    EXPECT_TRUE(view->showEQ());
    ASSERT_TRUE(eqPanel());
    EXPECT_TRUE(eqPanel()->isVisible());
    EXPECT_TRUE(eq->eqSettings().isEnabled) << "the manager picked the change up";
    for (const char* key : {keys::kEQSettings, keys::kActiveEQSettings}) EXPECT_TRUE(loadEQSettings(key, store).isEnabled);
    EXPECT_TRUE(player->currentEQSettings().isEnabled);

    view->toggleEQ();
    EXPECT_FALSE(view->showEQ());
    for (const char* key : {keys::kEQSettings, keys::kActiveEQSettings}) {
        ASSERT_TRUE(store.contains(key)) << key;
        EXPECT_FALSE(loadEQSettings(key, store).isEnabled) << key;
    }
    EXPECT_FALSE(eq->isVisible());
    EXPECT_TRUE(eqPanel() == nullptr || eqPanel()->closed);
    EXPECT_FALSE(eq->eqSettings().isEnabled);
    EXPECT_FALSE(player->currentEQSettings().isEnabled);
}

TEST_F(PanelHubTest, RemasterWithTheEqualiserClosesThePanelRebasesAndStartsAFinalBatchATenthLater) {
    mastered();
    editBand(4, 3.0f);
    eq->remasterWithEQ();
    delays->advance(0.1);  // the manager's wait: "RemasterWithEQ" arrives
    EXPECT_FALSE(eq->isVisible()) << "the panel closes";
    const AudioFile& first = view->batchProcessor()->audioFiles()[0];
    EXPECT_EQ(first.masterURL, scratch / "final0.wav");
    EXPECT_EQ(first.masterStats->lufs, -8.0f);
    EXPECT_FALSE(first.finalURL);
    EXPECT_FALSE(view->batchProcessor()->isFinalMode()) << "final mode waits for the hub's own 0.1 s";
    EXPECT_EQ(renderings, 0);

    delays->advance(0.1);
    EXPECT_TRUE(view->batchProcessor()->isFinalMode());
    EXPECT_EQ(view->appState(), AppState::processing);
    EXPECT_EQ(view->batchProcessor()->usedPresetName(), "Master + EQ");
    ASSERT_TRUE(waitUntil([&] { return view->appState() == AppState::result; }));
    EXPECT_EQ(renderings, 2);
    ASSERT_TRUE(lastEQ);
    EXPECT_FLOAT_EQ(lastEQ->bands[4].gain, 3.0f) << "rendered with the stored active record";
}

TEST_F(PanelHubTest, RemasterRequestsAreIgnoredInFinalModeOrWithADisabledActiveRecord) {
    mastered(false);
    view->batchProcessor()->setIsFinalMode(true);
    view->appear();
    saveEQSettings(withBand(2.0f, 6), keys::kActiveEQSettings, store);
    post(notifications::kRemasterWithEQ);
    delays->advance(0.5);
    EXPECT_EQ(view->appState(), AppState::importFiles);
    EXPECT_EQ(view->batchProcessor()->audioFiles()[0].finalURL, scratch / "final0.wav") << "nothing rebased";

    view->disappear();
    view->batchProcessor()->setIsFinalMode(false);
    view->appear();
    post(notifications::kRemasterWithEQ);
    delays->advance(0.5);
    EXPECT_TRUE(view->batchProcessor()->isFinalMode());
    EXPECT_EQ(view->appState(), AppState::importFiles) << "a disabled active record starts nothing";
    EXPECT_EQ(renderings, 0);

    post(notifications::kRemasterWithReference);
    delays->advance(0.5);
    EXPECT_EQ(renderings, 0) << "the reference remaster needs the reference switched on";
}

TEST_F(PanelHubTest, StartProcessingWithTheEqualiserRunsOnlyWithAnEnabledActiveRecord) {
    mastered();
    post(notifications::kStartProcessingWithEQ);
    EXPECT_EQ(view->appState(), AppState::importFiles);
    saveEQSettings(withBand(-2.0f, 6, true), keys::kActiveEQSettings, store);
    post(notifications::kStartProcessingWithEQ);
    EXPECT_EQ(view->appState(), AppState::processing);
    EXPECT_EQ(view->batchProcessor()->usedPresetName(), "Master + EQ");
    ASSERT_TRUE(waitUntil([&] { return view->appState() == AppState::result; }));
}

TEST_F(PanelHubTest, AMasterThatStartsPlayingIsHeardThroughTheManagersEqualiser) {
    mastered();
    EQSettings edited = editBand(2, 4.0f);
    auto other = fakePlayer(engine, store);
    view->playback()->setPlayer(other.get());
    ASSERT_EQ(view->results()->count(), 2);
    view->playback()->togglePlay(1, false);
    EXPECT_EQ(eq->audioPlayer(), other.get()) << "the manager follows the player of the master";
    EXPECT_EQ(other->currentEQSettings(), edited);

    edited.bands[2].gain = -3.0f;
    eq->applyPanelSettings(edited);
    EXPECT_EQ(other->currentEQSettings(), edited) << "panel edits are heard live";
    view->playback()->togglePlay(1, true);
    EXPECT_FALSE(other->currentEQSettings().isEnabled) << "an original plays unprocessed";
    view->playback()->stopPlayback();
    view->playback()->setPlayer(player.get());
}

TEST_F(PanelHubTest, TheReferenceButtonSwitchesTheReferenceAndItsPanel) {
    view->appear();
    ReferenceTrackManager* reference = ReferenceTrackManager::shared();
    view->toggleReferenceTrack();
    EXPECT_TRUE(view->showReferenceTrack());
    EXPECT_TRUE(reference->isEnabled());
    FakePanel* panel = panels->latest(QString::fromLatin1(ReferenceTrackManager::kPanelTitle));
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(reference->batchProcessor(), view->batchProcessor());
    view->toggleReferenceTrack();
    EXPECT_FALSE(view->showReferenceTrack());
    EXPECT_FALSE(reference->isEnabled());
    EXPECT_FALSE(reference->isVisible());
    EXPECT_TRUE(panel->closed);
}

TEST_F(PanelHubTest, ResetToDefaultsAndStartingOverCloseTheEqualiserPanel) {
    mastered();
    view->toggleEQ();
    ASSERT_TRUE(eq->isVisible());
    post(notifications::kResetApplicationToDefaults);
    EXPECT_FALSE(eq->isVisible());
    EXPECT_EQ(count(), 0);
    EXPECT_EQ(view->appState(), AppState::importFiles);

    mastered(false);
    view->toggleEQ();  // showEQ was left on: this press turns it off
    view->toggleEQ();
    ASSERT_TRUE(eq->isVisible());
    view->resetApplication(false);
    EXPECT_FALSE(eq->isVisible());
    EXPECT_FALSE(view->showEQ());
    EXPECT_FALSE(store.contains(keys::kActiveEQSettings));
    EXPECT_EQ(count(), 2);
}

}  // namespace
}  // namespace korvanta::test
