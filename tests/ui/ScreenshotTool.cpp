// korvanta-screenshots OUTDIR SONG_FOLDER — renders every state of the window to PNG files: the
// real window, offscreen (or under Xvfb), driven through the workflow with real songs. Not part of
// the product; scripts/screenshots runs it.
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "analysis/VectorscopeManager.h"
#include "app/AppDelegate.h"
#include "app/ContentView.h"
#include "app/SettingsWindowManager.h"
#include "eq/EQSettings.h"
#include "platform/FfmpegLogging.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "platform/ProgressUpdater.h"
#include "playback/AudioPlayerManager.h"
#include "app/EQManager.h"
#include "reference/ReferenceTrackManager.h"
#include "playback/FakeAudioOutput.h"
#include "ui/EngineSetup.h"

Q_IMPORT_QML_PLUGIN(KorvantaPlugin)

namespace {

using namespace korvanta;
namespace fs = std::filesystem;

QString outDir;
QQmlApplicationEngine* engine = nullptr;

// Runs the event loop until `done` holds (true) or `seconds` pass (false).
bool waitFor(const std::function<bool()>& done, double seconds = 120.0) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void settle(int ms = 900) { waitFor([] { return false; }, ms / 1000.0); }

QQuickWindow* mainWindow() { return qobject_cast<QQuickWindow*>(engine->rootObjects().value(0)); }

// The newest visible floating panel (a top-level window other than the main one), or null.
QQuickWindow* panel() {
    QQuickWindow* newest = nullptr;
    for (QWindow* w : QGuiApplication::topLevelWindows()) {
        auto* q = qobject_cast<QQuickWindow*>(w);
        if (q && q != mainWindow() && q->isVisible()) newest = q;
    }
    return newest;
}

void save(QQuickWindow* window, const QString& name) {
    const QString path = outDir + "/" + name;
    const QImage image = window ? window->grabWindow() : QImage();
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "screenshots: %s %s\n", window ? "could not write" : "no panel for", qPrintable(path));
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

void shot(const QString& name) {
    settle();
    save(mainWindow(), name);
}

void panelShot(const QString& name) {
    settle();
    save(panel(), name);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: korvanta-screenshots OUTDIR SONG_FOLDER\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    silenceFfmpegLog();
    outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(outDir);
    const QString songs = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();

    // A private store: the user's own settings are never touched.
    auto store = std::make_shared<MemoryPreferences>();
    installSharedPreferences(store);
    QTemporaryDir exportFolder;

    // The player plays into a fake output that a timer drains at the real rate, as a sound card
    // would: the screens see real playback without a sound device.
    auto fakeOutput = std::make_unique<FakeAudioOutput>();
    FakeAudioOutput* speaker = fakeOutput.get();
    PlayerEnvironment playerEnvironment;
    playerEnvironment.output = std::move(fakeOutput);
    AudioPlayerManager::installShared(std::move(playerEnvironment));
    QTimer drain;
    drain.setInterval(20);
    QObject::connect(&drain, &QTimer::timeout, [speaker] {
        (void)speaker->pull(uint32_t(speaker->format().sampleRate * 0.02));
    });
    drain.start();

    QQmlApplicationEngine qml;
    engine = &qml;
    setUpEngine(qml);
    qml.load(QUrl(QStringLiteral("qrc:/Korvanta/Main.qml")));
    if (qml.rootObjects().isEmpty()) return 1;
    mainWindow()->resize(560, 620);
    auto* view = qobject_cast<ContentView*>(mainWindow()->property("contentView").value<QObject*>());
    BatchProcessor* batch = view->batchProcessor();
    ReferenceTrackManager* reference = ReferenceTrackManager::shared();
    QObject* themes = qml.singletonInstance<QObject*>(qmlTypeId("Korvanta", 1, 0, "ThemeManager"));
    auto applyTheme = [themes](const char* id) {
        if (themes) QMetaObject::invokeMethod(themes, "applyTheme", Q_ARG(QString, QString::fromLatin1(id)));
    };

    shot("import-empty.png");

    // The reference panel, empty and with a reference loaded (it closes by itself a second later).
    view->toggleReferenceTrack();
    settle(300);
    panelShot("reference-empty.png");
    const QStringList found = QDir(songs).entryList({QStringLiteral("*.wav")}, QDir::Files);
    if (!found.isEmpty()) {
        reference->loadReferenceTrack(songs + QLatin1Char('/') + found.first());
        waitFor([&] { return reference->hasReference(); }, 120);
        settle(200);  // (panelShot's own wait would outlast the panel)
        save(panel(), QStringLiteral("reference-loaded.png"));
        shot("import-reference.png");
    }
    waitFor([&] { return !reference->isVisible(); }, 10);
    reference->clearReference();
    if (view->showReferenceTrack()) view->toggleReferenceTrack();

    view->importPaths({songs});
    waitFor([&] { return !batch->isAddingFiles() && batch->fileCount() > 0; });
    batch->toggleSelection(batch->fileCount() - 1);  // one song left out of the batch
    shot("import-songs.png");

    // The 50-file warning: a folder that would make the list too long.
    QStringList many;
    for (int i = 0; i < 50; ++i) many << songs + "/" + QString::fromStdString(batch->audioFiles()[0].filename);
    view->importPaths(many);
    shot("alert-max-files.png");

    // The first song holds part-way while the processing screen is taken.
    std::atomic<bool> hold{true};
    const fs::path held = batch->audioFiles()[0].url;
    batch->setMasteringOperation([&hold, held](const fs::path& input, const DJMasteringSettings& settings,
                                               bool finalMode, const std::optional<EQSettings>& eq,
                                               const std::shared_ptr<ProgressUpdater>& progress,
                                               const AudioProcessor::CancellationCheck& isCancelled) {
        if (input == held && hold) {
            progress->update(0.52);
            while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return AudioProcessor::masterAudioFile(input, settings, finalMode, eq, progress, isCancelled);
    });
    view->startMasteringProcess();
    waitFor([&] { return batch->currentIndex() == 0 && batch->currentFileProgress() > 0.4; });
    shot("processing.png");
    hold = false;
    waitFor([&] { return view->appState() == AppState::result; }, 600);
    settle(2500);  // the cards' entrance
    shot("results.png");

    // The vectorscope with nothing playing, then a card playing part-way with the panel following.
    view->toggleVectorscope();
    panelShot("vectorscope-idle.png");
    ResultPlayback* playback = view->playback();
    playback->setMatchLevel(true);  // the original at the master's loudness, its gain on the card
    playback->togglePlay(0, true);
    waitFor([&] { return playback->player()->isPlaying(); }, 30);
    playback->player()->seek(0.4f);
    settle(1500);
    shot("results-playing.png");
    panelShot("vectorscope.png");
    playback->stopPlayback();
    playback->setMatchLevel(false);
    view->toggleVectorscope();

    // The equaliser over a playing master: bands moved, widening on, the master gain lowered.
    playback->togglePlay(0, false);
    waitFor([&] { return playback->player()->isPlaying(); }, 30);
    view->toggleEQ();
    EQSettings edited = view->eqManager()->eqSettings();
    const float gains[] = {3.5f, 2.0f, 0.5f, -1.5f, -2.5f, -1.0f, 0.0f, 1.5f, 3.0f, 4.0f, 2.5f, 1.0f};
    for (size_t i = 0; i < 12; ++i) edited.bands[i].gain = gains[i];
    edited.masterGain = -1.5f;
    edited.stereoEnhancementEnabled = true;
    edited.stereoWidth = 1.35f;
    view->eqManager()->applyPanelSettings(edited);
    settle(800);
    panelShot("equalizer.png");
    shot("results-equalizer.png");

    // Matched reference gains: another song as the reference, both spectra over the graph.
    waitFor([&] {
        const auto spectrum = reference->masteredSpectrumValues();
        return std::any_of(spectrum.begin(), spectrum.end(), [](float v) { return v != 0.0f; });
    }, 60);
    reference->loadReferenceTrack(batch->audioFiles().back().url);
    waitFor([&] { return reference->hasReference(); }, 120);
    view->eqManager()->toggleReferenceEQ();
    settle(800);
    panelShot("equalizer-ref.png");
    view->eqManager()->toggleReferenceEQ();
    reference->clearReference();
    view->toggleEQ();
    playback->stopPlayback();

    // A machine without sound.
    {
        PlayerEnvironment silent;
        silent.output = std::make_unique<NoAudioOutput>();
        AudioPlayerManager noDevice(std::move(silent));
        playback->setPlayer(&noDevice);
        shot("results-no-audio.png");
        playback->setPlayer(AudioPlayerManager::shared());
    }

    // Settings and guide over the results.
    view->toggleSettings();
    panelShot("settings.png");
    applyTheme("sunset");  // restyles the open panel and the window behind it
    panelShot("settings-sunset.png");
    if (QQuickWindow* settings = panel()) settings->resize(400, 980);  // every section at once
    panelShot("settings-full-sunset.png");
    shot("results-sunset.png");
    applyTheme("original");
    view->toggleSettings();
    view->showGuide();
    shot("guide.png");
    view->setShowInfoPanel(false);

    // A final batch through an audible equaliser.
    EQSettings eq;
    eq.isEnabled = true;
    eq.bands[1].gain = 2.5f;
    eq.stereoEnhancementEnabled = true;
    eq.stereoWidth = 1.25f;
    saveEQSettings(eq, keys::kActiveEQSettings, *store);
    NotificationCenter::shared()->post(notifications::kStartProcessingWithEQ);
    waitFor([&] { return view->appState() == AppState::result && !batch->isProcessing(); }, 600);
    settle(2500);
    shot("results-final.png");

    // Export the masters into a scratch folder.
    auto* results = view->results();
    results->exportFolderChosen(QUrl::fromLocalFile(exportFolder.path()));
    waitFor([&] { return results->exportedFilesCount() >= 2; });
    shot("exporting.png");
    waitFor([&] { return results->exportAnimationCompleted(); }, 600);
    shot("saved.png");
    waitFor([&] { return view->appState() == AppState::importFiles; });

    // A transient message, and the six themes on the import screen with songs.
    view->importPaths({songs});
    waitFor([&] { return !batch->isAddingFiles() && batch->fileCount() > 0; });
    if (QObject* toasts = qml.singletonInstance<QObject*>(qmlTypeId("Korvanta", 1, 0, "ToastManager"))) {
        QMetaObject::invokeMethod(toasts, "show", Q_ARG(QString, QStringLiteral("All data cleaned\nApp restored to default state")),
                                  Q_ARG(int, 0), Q_ARG(double, 3.0));
        settle(300);
        QMetaObject::invokeMethod(toasts, "show", Q_ARG(QString, QStringLiteral("Maximum 50 files allowed...")),
                                  Q_ARG(int, 1), Q_ARG(double, 2.0));
    }
    shot("toast.png");
    for (const char* id : {"original", "dark", "ocean", "sunset", "forest", "teal"}) {
        applyTheme(id);
        shot(QStringLiteral("theme-%1.png").arg(QString::fromLatin1(id)));
    }
    NotificationCenter::shared()->post(notifications::kApplicationWillTerminate);
    return 0;
}
