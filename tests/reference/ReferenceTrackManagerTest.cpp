// The reference manager (loading, storing, clearing, the previewed songs' profiles) and its panel.
#include "reference/ReferenceTrackManager.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "app/SettingsStore.h"
#include "engine/LoudnessMeter.h"
#include "mastering/BatchProcessor.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"
#include "platform/WorkerPool.h"
#include "reference/ReferenceProfileStore.h"
#include "reference/SpectralAnalyzer.h"
#include "support/FakePanels.h"
#include "support/QtTestSupport.h"
#include "support/TestAudio.h"

namespace korvanta {
namespace {

namespace fs = std::filesystem;
using test::waitUntil;

constexpr const char* kProfileKey = "Korvanta_ReferenceSpectralProfile";

// Counts a manager's notifications and those that arrived off the main thread. Direct connections
// run each handler on the emitting thread; they end with `context`, as the shared manager outlives
// every test.
struct MainThreadWatch {
    QObject context;
    std::atomic<int> seen{0};
    std::atomic<int> off{0};

    void watch(ReferenceTrackManager& manager) {
        using Signal = void (ReferenceTrackManager::*)();
        for (Signal signal :
             {&ReferenceTrackManager::currentProfileChanged, &ReferenceTrackManager::currentTrackProfileChanged,
              &ReferenceTrackManager::masteredTrackProfileChanged, &ReferenceTrackManager::isVisibleChanged,
              &ReferenceTrackManager::isEnabledChanged, &ReferenceTrackManager::referenceSpectrumChanged,
              &ReferenceTrackManager::originalSpectrumChanged, &ReferenceTrackManager::masteredSpectrumChanged,
              &ReferenceTrackManager::referenceLUFSChanged, &ReferenceTrackManager::isLoadingChanged,
              &ReferenceTrackManager::referenceTrackLoaded}) {
            QObject::connect(&manager, signal, &context, [this] { note(); }, Qt::DirectConnection);
        }
        QObject::connect(&manager, &ReferenceTrackManager::loadFinished, &context, [this] { note(); },
                         Qt::DirectConnection);
    }
    void note() {
        ++seen;
        if (!test::onMainThread()) ++off;
    }
};

class ReferenceTrackManagerTest : public ::testing::Test {
protected:
    void TearDown() override {
        workerPool().waitForDone();
        test::drainEvents();
        EXPECT_GT(watch.seen, 0);
        EXPECT_EQ(watch.off, 0) << "published fields change on the main thread only";
    }

    // Noise shaped by a one-pole low-pass, so that the bands differ from one another.
    fs::path writeTrack(const std::string& name, uint32_t seed, float lowPass) {
        test::Signal noise = test::makeNoise(44100.0, 2, 3.0, 0.5f, seed);
        for (auto& channel : noise.channels) {
            float state = 0.0f;
            for (float& v : channel) v = state += lowPass * (v - state);
        }
        const fs::path path = folder / name;
        test::writeWav(path, noise);
        return path;
    }

    // Loads `path` and waits for the outcome; returns loadFinished's arguments.
    std::pair<bool, QString> load(ReferenceTrackManager& manager, const fs::path& path) {
        QSignalSpy finished(&manager, &ReferenceTrackManager::loadFinished);
        manager.loadReferenceTrack(path);
        EXPECT_TRUE(manager.isLoading());
        if (!waitUntil([&] { return finished.count() > 0; })) return {false, "timed out"};
        EXPECT_EQ(finished.count(), 1);
        EXPECT_FALSE(manager.isLoading());
        return {finished[0][0].toBool(), finished[0][1].toString()};
    }

    // Previews `path` in `manager` (as the original or the master) and waits for its profile.
    static void analyse(ReferenceTrackManager& manager, const fs::path& path, bool isOriginal) {
        QSignalSpy done(&manager, &ReferenceTrackManager::currentTrackProfileChanged);
        manager.analyzeCurrentTrack(QString::fromStdString(path.string()), isOriginal);
        EXPECT_TRUE(waitUntil([&] { return done.count() > 0; }));
    }

    test::ScratchFolder folder;
    MainThreadWatch watch;
    MemoryPreferences memory;
};

TEST_F(ReferenceTrackManagerTest, LoadedReferenceIsPublishedStoredAndReadBackAfterARestart) {
    const fs::path reference = writeTrack("reference.wav", 3, 0.3f);
    const QString ini = QString::fromStdString((folder / "Korvanta.conf").string());
    std::optional<SpectralProfile> loaded;
    {
        SettingsStore store(ini);
        ReferenceTrackManager manager(store);
        watch.watch(manager);
        EXPECT_FALSE(manager.currentProfile()) << "an empty store holds no reference";
        EXPECT_EQ(manager.referenceSpectrumValues(), std::vector<float>(12, 0.0f));
        manager.setIsVisible(true);
        manager.setIsEnabled(true);
        QSignalSpy announced(&manager, &ReferenceTrackManager::referenceTrackLoaded);
        int posted = 0;
        const auto token = NotificationCenter::shared()->addObserver(
            QString::fromLatin1(notifications::kReferenceTrackLoaded), [&] { ++posted; });

        const auto [ok, message] = load(manager, reference);
        ASSERT_TRUE(ok) << message.toStdString();
        EXPECT_TRUE(message.isEmpty());
        EXPECT_EQ(announced.count(), 1);
        EXPECT_EQ(posted, 1) << "the main window hears of it too";
        NotificationCenter::shared()->removeObserver(token);
        ASSERT_TRUE(manager.currentProfile());
        loaded = manager.currentProfile();
        EXPECT_EQ(loaded->referenceFileName, "reference.wav");
        ASSERT_EQ(loaded->spectrum12Band.size(), 12u);
        EXPECT_EQ(manager.referenceSpectrumValues(), loaded->spectrum12Band)
            << "the matching spectrum is the profile's";
        auto stats = analyzeAudioFile(reference);
        ASSERT_TRUE(stats && manager.referenceLUFS());
        EXPECT_EQ(*manager.referenceLUFS(), stats->lufs) << "the reference's own loudness";
        auto stored = loadProfile(store);
        ASSERT_TRUE(stored) << "the profile is stored as it is published";
        EXPECT_EQ(*stored, *loaded);

        // The panel stays open while the reference is announced and closes a second later.
        EXPECT_TRUE(manager.isVisible());
        EXPECT_TRUE(manager.isEnabled());
        EXPECT_TRUE(waitUntil([&] { return !manager.isVisible(); }, std::chrono::seconds(10)));
        EXPECT_FALSE(manager.isEnabled());
        EXPECT_EQ(announced.count(), 1) << "one load announces once";
        store.synchronize();
    }
    SettingsStore store(ini);
    ReferenceTrackManager restarted(store);
    watch.watch(restarted);
    ASSERT_TRUE(restarted.currentProfile()) << "a reference survives a restart";
    EXPECT_EQ(*restarted.currentProfile(), *loaded);
    EXPECT_EQ(restarted.referenceSpectrumValues(), loaded->spectrum12Band);
    EXPECT_FALSE(restarted.referenceLUFS()) << "the loudness is known only after a load";
    restarted.setIsVisible(true);  // a notification for the watch
}

TEST_F(ReferenceTrackManagerTest, FailedLoadChangesNothingAndClearingKeepsOnlyTheSpectrum) {
    ReferenceTrackManager manager(memory);
    watch.watch(manager);
    ASSERT_TRUE(load(manager, writeTrack("reference.wav", 9, 0.2f)).first);
    const SpectralProfile before = *manager.currentProfile();
    const std::vector<float> spectrum = manager.referenceSpectrumValues();
    const auto lufs = manager.referenceLUFS();
    const auto storedBefore = memory.bytesValue(kProfileKey);
    QSignalSpy announced(&manager, &ReferenceTrackManager::referenceTrackLoaded);
    QSignalSpy profileChanged(&manager, &ReferenceTrackManager::currentProfileChanged);

    const auto [ok, message] = load(manager, folder / "missing.wav");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(message.isEmpty()) << "the reason is reported for the panel to show";
    EXPECT_EQ(announced.count(), 0);
    EXPECT_EQ(profileChanged.count(), 0);
    EXPECT_EQ(*manager.currentProfile(), before);
    EXPECT_EQ(manager.referenceSpectrumValues(), spectrum);
    EXPECT_EQ(manager.referenceLUFS(), lufs) << "a file that does not open is never measured";
    EXPECT_EQ(memory.bytesValue(kProfileKey), storedBefore);

    manager.clearReference();
    EXPECT_FALSE(manager.currentProfile());
    EXPECT_FALSE(memory.contains(kProfileKey)) << "the stored profile is removed";
    EXPECT_EQ(manager.referenceSpectrumValues(), spectrum) << "consumers check the profile first";
    EXPECT_EQ(profileChanged.count(), 1);
    ReferenceTrackManager restarted(memory);
    EXPECT_FALSE(restarted.currentProfile());
    EXPECT_EQ(restarted.referenceSpectrumValues(), std::vector<float>(12, 0.0f));
}

TEST_F(ReferenceTrackManagerTest, PreviewedSongsGetTheirProfileAndSpectrum) {
    ReferenceTrackManager manager(memory);
    watch.watch(manager);
    const fs::path original = writeTrack("song.wav", 11, 0.2f);
    const fs::path master = writeTrack("song_master.wav", 12, 0.6f);

    analyse(manager, original, true);
    ASSERT_TRUE(manager.currentTrackProfile());
    EXPECT_EQ(manager.currentTrackProfile()->referenceFileName, "song.wav");
    EXPECT_TRUE(manager.currentTrackProfile()->spectrum12Band.empty()) << "a track profile has no bands";
    EXPECT_FALSE(manager.masteredTrackProfile());
    const auto originalSpectrum = analyze12BandSpectrum(original);
    ASSERT_TRUE(originalSpectrum);
    EXPECT_EQ(manager.originalSpectrumValues(), originalSpectrum.value());
    EXPECT_EQ(manager.masteredSpectrumValues(), std::vector<float>(12, 0.0f));

    analyse(manager, master, false);
    ASSERT_TRUE(manager.masteredTrackProfile());
    EXPECT_EQ(manager.masteredTrackProfile()->referenceFileName, "song_master.wav");
    EXPECT_FALSE(manager.currentTrackProfile()) << "one previewed rendering at a time";
    const auto masterSpectrum = analyze12BandSpectrum(master);
    ASSERT_TRUE(masterSpectrum);
    EXPECT_EQ(manager.masteredSpectrumValues(), masterSpectrum.value());
    EXPECT_EQ(manager.originalSpectrumValues(), originalSpectrum.value()) << "the original's spectrum stays";
    EXPECT_NE(masterSpectrum.value(), originalSpectrum.value()) << "the two test tracks differ";

    // A song that cannot be analysed clears both profiles and keeps the spectra.
    QSignalSpy cleared(&manager, &ReferenceTrackManager::masteredTrackProfileChanged);
    manager.analyzeCurrentTrack(QString::fromStdString((folder / "missing.wav").string()), true);
    ASSERT_TRUE(waitUntil([&] { return cleared.count() > 0; }));
    EXPECT_FALSE(manager.currentTrackProfile());
    EXPECT_FALSE(manager.masteredTrackProfile());
    EXPECT_EQ(manager.masteredSpectrumValues(), masterSpectrum.value());
    EXPECT_EQ(manager.originalSpectrumValues(), originalSpectrum.value());
}

TEST_F(ReferenceTrackManagerTest, RemovingASongClearsTheSharedTrackProfiles) {
    ReferenceTrackManager* shared = ReferenceTrackManager::shared();
    watch.watch(*shared);
    const fs::path song = writeTrack("song.wav", 21, 0.4f);
    analyse(*shared, song, true);
    ASSERT_TRUE(shared->currentTrackProfile());
    const std::vector<float> spectrum = shared->originalSpectrumValues();

    BatchProcessor processor(memory);
    QSignalSpy added(&processor, &BatchProcessor::addFilesFinished);
    processor.addFiles(std::vector<fs::path>{song});
    ASSERT_TRUE(waitUntil([&] { return added.count() > 0; }));
    ASSERT_EQ(processor.audioFiles().size(), 1u);

    processor.removeFile(1);
    EXPECT_TRUE(shared->currentTrackProfile()) << "an index outside the list removes nothing";
    processor.removeFile(0);
    EXPECT_TRUE(processor.audioFiles().empty());
    EXPECT_FALSE(shared->currentTrackProfile());
    EXPECT_FALSE(shared->masteredTrackProfile());
    EXPECT_EQ(shared->originalSpectrumValues(), spectrum) << "only the profiles are cleared";
}

class ReferencePanelTest : public ::testing::Test {
protected:
    void SetUp() override { panels = test::installFakePanels(); }
    void TearDown() override { test::drainEvents(); }
    test::FakePanel* panel() const {
        return panels->latest(QString::fromLatin1(ReferenceTrackManager::kPanelTitle));
    }

    MemoryPreferences store;
    std::shared_ptr<test::FakePanelFactory> panels;
};

TEST_F(ReferencePanelTest, FirstOpeningIsCentredAndTheFrameIsKeptAsText) {
    ReferenceTrackManager manager(store);
    manager.setIsEnabled(true);
    manager.showReferencePanel();
    ASSERT_TRUE(panel());
    EXPECT_TRUE(manager.isVisible());
    EXPECT_EQ(panel()->options.minimumSize, QSize(350, 180));
    EXPECT_EQ(panel()->frame(), (PanelFrame{545, 360, 350, 180})) << "centred on a 1440 × 900 screen";

    manager.showReferencePanel();
    EXPECT_EQ(panels->made.size(), 1u) << "an open panel is only brought to the front";

    panel()->userMoves({40, 60, 400, 200});
    EXPECT_EQ(store.stringValue(keys::kReferenceTrackWindowPosition), "{{40, 60}, {400, 200}}");
    manager.hideReferencePanel();
    EXPECT_FALSE(manager.isVisible());
    EXPECT_FALSE(manager.isEnabled()) << "hiding switches the reference off";
    manager.showReferencePanel();
    EXPECT_EQ(panel()->frame(), (PanelFrame{40, 60, 400, 200}));

    panel()->userCloses();
    EXPECT_FALSE(manager.isVisible());
    EXPECT_EQ(manager.panel(), nullptr) << "the panel is forgotten";
}

TEST_F(ReferencePanelTest, AnEmptyOrUnreadableStoredFrameCentresThePanel) {
    const PanelFrame screen{0, 0, 1440, 900};
    const PanelFrame current{0, 0, 350, 180};
    EXPECT_EQ(ReferenceTrackManager::restoredPanelFrame(PanelFrame{10, 10, 0, 0}, screen, current),
              (PanelFrame{545, 360, 350, 180}));
    EXPECT_EQ(ReferenceTrackManager::restoredPanelFrame(std::nullopt, PanelFrame{100, 50, 800, 600}, current),
              (PanelFrame{325, 260, 350, 180}));
    EXPECT_EQ(ReferenceTrackManager::restoredPanelFrame(PanelFrame{5, 6, 360, 190}, screen, current),
              (PanelFrame{5, 6, 360, 190}));
    store.setString(keys::kReferenceTrackWindowPosition, "not a frame");
    ReferenceTrackManager manager(store);
    manager.showReferencePanel();
    ASSERT_TRUE(panel());
    EXPECT_EQ(panel()->frame(), (PanelFrame{545, 360, 350, 180}));
}

}  // namespace
}  // namespace korvanta
