// korvanta-bench-playback [--device | --idle | --load FILE]: how the preview player treats the main thread.
//
// Plays a 20-second 96 kHz stereo song through the live equaliser (chunked mode) and reports the
// time from play() to the first buffer the output pulls, and the longest gap between two ticks of
// a 1 ms timer on the main thread while it plays. The output is a fake drained at the real rate by
// a thread of its own (as a sound card's thread would), or with --device the default sound device.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "BenchSongs.h"
#include "platform/WavWriter.h"
#include "playback/AudioPlayerManager.h"
#include "playback/FakeAudioOutput.h"
#include "playback/QAudioSinkOutput.h"

using namespace korvanta;

namespace {

constexpr double kRate = 96000.0;
constexpr double kSeconds = 20.0;

bool writeSong(const std::filesystem::path& path) {
    auto writer = WavWriter::create(path, {kRate, 2}, WavSampleFormat::int24);
    if (!writer) return false;
    auto block = PcmBuffer::allocate({kRate, 2}, 9600);
    uint32_t seed = 1;
    for (int64_t at = 0; at < int64_t(kRate * kSeconds); at += 9600) {
        for (uint32_t i = 0; i < 9600; ++i) {
            const double t = double(at + i) / kRate;
            seed = seed * 1664525u + 1013904223u;
            const float noise = float(seed >> 8) / float(1 << 24) - 0.5f;
            const double tone = 0.3 * std::sin(2 * M_PI * 110 * t) + 0.15 * std::sin(2 * M_PI * 440 * t);
            block->channel(0)[i] = float(tone + 0.1 * noise);
            block->channel(1)[i] = float(0.8 * tone - 0.1 * noise);
        }
        block->setFrameLength(9600);
        if (!writer.value()->write(*block)) return false;
    }
    return bool(writer.value()->close());
}

double msSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    const bool device = argc > 1 && std::strcmp(argv[1], "--device") == 0;
    // --idle: the same measurement without playing, the machine's own baseline.
    const bool idle = argc > 1 && std::strcmp(argv[1], "--idle") == 0;
    QCoreApplication app(argc, argv);
    // --load FILE: only how long loadAudio keeps the main thread on that file.
    if (argc > 2 && std::strcmp(argv[1], "--load") == 0) {
        PlayerEnvironment environment;
        environment.output = std::make_unique<FakeAudioOutput>();
        AudioPlayerManager player(std::move(environment));
        const auto start = std::chrono::steady_clock::now();
        player.loadAudio(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[2])));
        const double callMs = msSince(start);
        while (player.isLoading()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        std::printf("loadAudio on the main thread: %.2f ms; file open after %.2f ms (%.1f s of audio)\n", callMs,
                    msSince(start), player.duration());
        return 0;
    }
    bench::ScratchFolder folder("playback");
    const auto path = folder.path() / "song96k.wav";
    if (!writeSong(path)) {
        std::fprintf(stderr, "could not write the song\n");
        return 1;
    }

    PlayerEnvironment environment;
    FakeAudioOutput* fake = nullptr;
    if (device) {
        environment.output = std::make_unique<QAudioSinkOutput>();
    } else {
        auto out = std::make_unique<FakeAudioOutput>();
        fake = out.get();
        environment.output = std::move(out);
    }
    AudioPlayerManager player(std::move(environment));
    if (!player.isEngineReady()) {
        std::printf("no audio output available\n");
        return 0;
    }

    // The fake's "sound card": 480 frames every 5 ms, from its own thread.
    std::atomic<bool> running{true};
    std::atomic<int64_t> firstPullNs{0};
    std::thread card;
    if (fake) {
        card = std::thread([&] {
            auto next = std::chrono::steady_clock::now();
            while (running) {
                next += std::chrono::milliseconds(5);
                std::this_thread::sleep_until(next);
                auto got = fake->pull(480);
                if (!got.empty() && !got[0].empty() && firstPullNs == 0) {
                    firstPullNs = std::chrono::steady_clock::now().time_since_epoch().count();
                }
            }
        });
    }

    EQSettings eq;
    eq.isEnabled = true;
    for (size_t i = 0; i < eq.bands.size(); ++i) eq.bands[i].gain = float(int(i % 5) - 2) * 1.5f;
    eq.masterGain = 1.0f;
    eq.stereoEnhancementEnabled = true;
    eq.stereoWidth = 1.3f;
    player.updateEQSettings(eq);

    const auto loadStart = std::chrono::steady_clock::now();
    player.loadAudio(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    const double loadMs = msSince(loadStart);

    const auto playStart = std::chrono::steady_clock::now();
    if (!idle) player.play();
    const double playCallMs = msSince(playStart);

    // Main-thread gaps: a 1 ms timer's ticks while the song plays; the device's first pull is
    // seen from here too.
    double longestGapMs = 0.0;
    double firstPullMs = -1.0;
    auto lastTick = std::chrono::steady_clock::now();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = std::chrono::steady_clock::now();
        longestGapMs = std::max(longestGapMs, std::chrono::duration<double, std::milli>(now - lastTick).count());
        lastTick = now;
        if (firstPullMs < 0 && player.output().queue().framesPulled() > 0) firstPullMs = msSince(playStart);
    });
    ticker.start();
    QTimer::singleShot(int(1000 * 12), &app, &QCoreApplication::quit);
    app.exec();

    running = false;
    if (card.joinable()) card.join();
    if (fake && firstPullNs) {
        firstPullMs = double(firstPullNs - playStart.time_since_epoch().count()) / 1e6;
    }
    const uint64_t pulled = player.output().queue().framesPulled();
    std::printf("output: %s%s\n", device ? "default sound device" : "fake, drained at the real rate",
                idle ? " (idle: nothing played)" : "");
    std::printf("song: 96 kHz stereo, 20 s, equaliser and widening on (chunked)\n");
    std::printf("loadAudio on the main thread: %.2f ms\n", loadMs);
    std::printf("play() on the main thread: %.2f ms\n", playCallMs);
    std::printf("play to first buffer pulled: %.2f ms\n", firstPullMs);
    std::printf("longest main-thread gap over 12 s of playback: %.2f ms\n", longestGapMs);
    std::printf("frames pulled: %llu (%.2f s of audio)\n", static_cast<unsigned long long>(pulled), double(pulled) / kRate);
    std::printf("pulls that found nothing queued: %llu\n",
                static_cast<unsigned long long>(player.output().queue().starvedPulls()));
    return 0;
}
