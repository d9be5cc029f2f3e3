// The window's longest stall: the real main window (offscreen) imports 50 songs, masters them
// and exports the masters, while a precise 2 ms timer on the main thread records the longest
// gap between two of its turns. Every gap above the timer's own period is time the interface
// could not answer the user. Prints the longest gap per phase and over the whole run.
//
// Songs: 50 copies of the demo songs (KORVANTA_DEMO_DIR, real music) or, without them, of
// synthetic songs; each copy is a file of its own, so every one is decoded and measured.
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BenchSongs.h"
#include "app/ContentView.h"
#include "export/ResultViewModel.h"
#include "mastering/BatchProcessor.h"
#include "platform/FfmpegLogging.h"
#include "platform/Preferences.h"
#include "ui/EngineSetup.h"

Q_IMPORT_QML_PLUGIN(KorvantaPlugin)

namespace {

using namespace korvanta;
namespace fs = std::filesystem;

constexpr int kSongs = 50;
constexpr int kTickMs = 2;

qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The longest interval between two turns of a precise timer on the main thread, and how much of
// it the main thread itself spent on the processor (the rest it waited for a processor, or
// slept).
class StallRecorder {
public:
    StallRecorder() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kTickMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        clock_.start();
        last_ = 0;
        lastCpu_ = threadCpuNs();
        longest_ = 0;
        longestCpu_ = 0;
        timer_.start();
    }
    // The longest gap since start(), in milliseconds, counting the wait up to now.
    double longestMs() {
        tick();
        return double(longest_) / 1e6;
    }
    double longestBusyMs() const { return double(longestCpu_) / 1e6; }

private:
    void tick() {
        const qint64 now = clock_.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        if (now - last_ > longest_) {
            longest_ = now - last_;
            longestCpu_ = cpu - lastCpu_;
        }
        last_ = now;
        lastCpu_ = cpu;
    }

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 lastCpu_ = 0;
    qint64 longest_ = 0;
    qint64 longestCpu_ = 0;
};

bool runUntil(const std::function<bool()>& done, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

std::vector<fs::path> sourceSongs(const fs::path& scratch) {
    std::vector<fs::path> songs;
    if (const char* demo = std::getenv("KORVANTA_DEMO_DIR")) {
        for (const auto& entry : fs::directory_iterator(demo)) {
            const std::string ext = entry.path().extension().string();
            if (ext == ".wav" || ext == ".flac" || ext == ".mp3" || ext == ".ogg" || ext == ".m4a" ||
                ext == ".aiff")
                songs.push_back(entry.path());
        }
        std::sort(songs.begin(), songs.end());
    }
    if (songs.empty()) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            const fs::path song = scratch / ("synthetic-" + std::to_string(seed) + ".wav");
            if (!bench::writeSyntheticSong(song, 45.0, seed, 0.12, 0.3)) std::exit(1);
            songs.push_back(song);
        }
    }
    return songs;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    silenceFfmpegLog();
    installSharedPreferences(std::make_shared<MemoryPreferences>());

    bench::ScratchFolder scratch("window-stall");
    const fs::path songsFolder = scratch.path() / "songs";
    const fs::path exportFolder = scratch.path() / "export";
    fs::create_directories(songsFolder);
    fs::create_directories(exportFolder);
    const std::vector<fs::path> sources = sourceSongs(scratch.path());
    for (int i = 0; i < kSongs; ++i) {
        const fs::path& from = sources[size_t(i) % sources.size()];
        char name[32];
        std::snprintf(name, sizeof name, "%02d ", i + 1);
        fs::copy_file(from, songsFolder / (name + from.filename().string()));
    }

    QQmlApplicationEngine engine;
    setUpEngine(engine);
    engine.load(QUrl(QStringLiteral("qrc:/Korvanta/Main.qml")));
    if (engine.rootObjects().isEmpty()) return 1;
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    auto* view = qobject_cast<ContentView*>(window->property("contentView").value<QObject*>());
    BatchProcessor* batch = view->batchProcessor();
    runUntil([] { return false; }, 0.5);  // the window's first frames

    StallRecorder stall;
    std::printf("window stall: %d songs (%s), longest gap between two main-thread turns of a %d ms timer\n",
                kSongs, std::getenv("KORVANTA_DEMO_DIR") ? "demo songs" : "synthetic", kTickMs);
    double worst = 0.0;
    const auto phase = [&](const char* name, const std::function<void()>& begin,
                           const std::function<bool()>& done, double seconds) {
        QElapsedTimer clock;
        clock.start();
        stall.start();
        begin();
        const bool finished = runUntil(done, seconds);
        const double gap = stall.longestMs();
        worst = std::max(worst, gap);
        std::printf("  %-38s %6.1f s   longest gap %6.1f ms (main thread on a processor %5.1f ms of it)%s\n",
                    name, clock.elapsed() / 1000.0, gap, stall.longestBusyMs(), finished ? "" : "   (did not finish)");
        std::fflush(stdout);
        return finished;
    };

    bool ok = phase(
        "import 50 songs (measured meanwhile)",
        [&] { view->importPaths({QString::fromStdString(songsFolder.string())}); },
        [&] { return batch->fileCount() == kSongs && !batch->isAddingFiles(); }, 300);
    ok = ok && phase(
        "master the batch",
        [&] { view->startMasteringProcess(); },
        [&] { return view->appState() == AppState::result && !batch->isProcessing(); }, 1800);
    ok = ok && phase(
        "export the masters (WAV)",
        [&] { view->results()->exportFolderChosen(QUrl::fromLocalFile(QString::fromStdString(exportFolder.string()))); },
        [&] { return view->results()->exportAnimationCompleted(); }, 900);
    std::printf("  longest main-thread gap over the run: %.1f ms (target: at most 50 ms)\n", worst);
    return ok ? 0 : 1;
}
