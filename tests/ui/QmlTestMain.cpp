// Entry point of the screens' Qt Quick tests (qml/tst_*.qml), run offscreen. Every test file sees
// the module "Korvanta" and `testSupport`, which makes what QML cannot (songs, models, managers)
// over preferences in memory.
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

#include <memory>

#include "app/AudioSettingsManager.h"
#include "app/EQManager.h"
#include "app/SettingsViewModel.h"
#include "engine/AudioEngine.h"
#include "mastering/BatchProcessor.h"
#include "platform/Preferences.h"
#include "playback/FakeAudioOutput.h"
#include "reference/ReferenceProfileStore.h"
#include "support/TestAudio.h"

Q_IMPORT_QML_PLUGIN(KorvantaPlugin)

namespace {

using namespace korvanta;

class TestSupport : public QObject {
    Q_OBJECT
public:
    explicit TestSupport(std::shared_ptr<MemoryPreferences> store) : store_(std::move(store)) {}

    // A new folder holding `count` two-second stereo songs (quiet noise, so mastering is quick).
    Q_INVOKABLE QString songFolder(int count) {
        folders_.push_back(std::make_unique<test::ScratchFolder>());
        const auto& folder = *folders_.back();
        for (int i = 0; i < count; ++i) {
            const auto signal = test::makeNoise(44100.0, 2, 2.0, 0.05f, uint32_t(i + 1));
            test::writeWav(folder / ("song " + std::to_string(i + 1) + ".wav"), signal,
                           WavSampleFormat::int16);
        }
        return QString::fromStdString(folder.path().string());
    }

    Q_INVOKABLE QObject* settingsModel(AudioSettingsManager* settings, BatchProcessor* batch) {
        return new SettingsViewModel(settings, batch, *store_, this);
    }

    // An equaliser manager with a player on a fake output, playing a file of `lufs` and `peak`.
    Q_INVOKABLE QObject* eqManager(double lufs, double peak) {
        PlayerEnvironment environment;
        environment.output = std::make_unique<FakeAudioOutput>();
        environment.engine = &engine_;
        environment.store = store_.get();
        environment.clock = [] { return 0.0; };
        environment.background = [](std::function<void()> job) { job(); };
        auto* player = new AudioPlayerManager(std::move(environment), this);
        player->setCurrentFileLUFS(float(lufs));
        player->setCurrentFilePeak(float(peak));
        auto* reference = new ReferenceTrackManager(*store_, this);
        return new EQManager(*store_, player, this, reference);
    }
    // The stored record under `key` as QML sees it (an empty map when absent).
    Q_INVOKABLE QVariantMap storedEQ(const QString& key) const {
        if (!store_->contains(key.toStdString())) return {};
        return eqSettingsToVariant(loadEQSettings(key.toStdString(), *store_));
    }
    // The gain of `band` in what the player currently plays through.
    Q_INVOKABLE double playerGain(QObject* player, int band) const {
        auto* p = qobject_cast<AudioPlayerManager*>(player);
        if (!p || band < 0 || size_t(band) >= p->currentEQSettings().bands.size()) return qQNaN();
        return p->currentEQSettings().bands[size_t(band)].gain;
    }
    // Stores a reference whose 12 bands are all `level` (for managers made afterwards), or
    // removes it for a negative level.
    Q_INVOKABLE void storeReference(double level) {
        if (level < 0) {
            clearReference(*store_);
            return;
        }
        SpectralProfile profile;
        profile.frequencies = {20.0f, 20000.0f};
        profile.magnitudes = {-20.0f, -30.0f};
        profile.referenceFileName = "reference.wav";
        profile.spectrum12Band = std::vector<float>(12, float(level));
        saveProfile(profile, *store_);
    }
    // The reference manager an equaliser manager made here works with.
    Q_INVOKABLE QObject* referenceOf(QObject* manager) const {
        auto* m = qobject_cast<EQManager*>(manager);
        return m ? m->reference() : nullptr;
    }
    Q_INVOKABLE void setMasteredSpectrum(QObject* reference, double level) {
        auto* r = qobject_cast<ReferenceTrackManager*>(reference);
        if (r) r->setMasteredSpectrum(std::vector<float>(12, float(level)));
    }
    Q_INVOKABLE void removeStored(const QString& key) { store_->remove(key.toStdString()); }

private:
    std::shared_ptr<MemoryPreferences> store_;
    std::vector<std::unique_ptr<test::ScratchFolder>> folders_;
    AudioEngine engine_;
};

class Setup : public QObject {
    Q_OBJECT
public slots:
    void applicationAvailable() {
        store_ = std::make_shared<MemoryPreferences>();
        installSharedPreferences(store_);
    }
    void qmlEngineAvailable(QQmlEngine* engine) {
        engine->addImportPath(QStringLiteral("qrc:/"));
        support_ = std::make_unique<TestSupport>(store_);
        engine->rootContext()->setContextProperty(QStringLiteral("testSupport"), support_.get());
    }

private:
    std::shared_ptr<MemoryPreferences> store_;
    std::unique_ptr<TestSupport> support_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(korvanta_screens, Setup)

#include "QmlTestMain.moc"
