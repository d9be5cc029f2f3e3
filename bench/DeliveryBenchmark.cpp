// What the delivery figures (true peak and LUFS (R128)) cost a master: times masterAudioFile
// (Club preset) on a four-minute 44.1 kHz stereo song, and measureDelivery alone on the window
// every measurement of that master covers (the central 120 s). A master adds the delivery figures
// twice: to the input's measurement and to the accepted pass's (trial passes do without), so the
// added cost is 2 × measureDelivery whatever the number of passes.
//
// Target: at most 10 % of the master's time.
//
// Usage: korvanta-bench-delivery [repetitions] [DEMO_DIR]   (default 5; the fastest of each is
//        reported). DEMO_DIR may also come from the environment variable KORVANTA_DEMO_DIR.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/TempoAnalyzer.h"
#include "engine/DeliveryMeasurement.h"
#include "engine/LoudnessMeasurement.h"
#include "engine/LoudnessMeter.h"
#include "mastering/AudioProcessor.h"
#include "platform/AudioFileReader.h"
#include "platform/PcmBuffer.h"
#include "platform/Preferences.h"

#include "BenchSongs.h"
#include "BenchTiming.h"

namespace fs = std::filesystem;
using namespace korvanta;
using namespace korvanta::bench;

int main(int argc, char** argv) {
    const auto [repetitions, demoDir] = parseBenchArguments(argc, argv, 5);

    const ScratchFolder scratch("delivery");
    installSharedPreferences(std::make_shared<MemoryPreferences>());
    const fs::path song = scratch.path() / "song.wav";
    const bool made = demoDir.empty() ? writeSyntheticSong(song, 240.0, 7, 0.25, 0.5)
                                      : writeDemoSong(demoDir, scratch.path(), song, 240.0);
    if (!made) {
        std::fprintf(stderr, "could not make the benchmark song\n");
        return 1;
    }
    std::printf("A 4-minute 44.1 kHz stereo song from %s; fastest of %d runs\n",
                demoDir.empty() ? "synthetic material" : demoDir.c_str(), repetitions);

    // The measurement window, in memory.
    auto reader = AudioFileReader::open(song);
    if (!reader) fail("opening the song", reader.error());
    const AudioFormat format = reader.value()->processingFormat();
    const MeasurementWindow window = measurementWindow(format, reader.value()->length());
    auto buffer = PcmBuffer::allocate(format, window.frameCount);
    reader.value()->setFramePosition(window.firstFrame);
    if (auto read = reader.value()->read(*buffer); !read) fail("reading the window", read.error());

    const Timing delivery = best(repetitions * 2, [&] {
        (void)measureDelivery(buffer->floatChannelData(), buffer->channelCount(), buffer->frameLength(),
                              format.sampleRate);
    });
    const Timing system = best(repetitions * 2, [&] {
        (void)measureLoudness(buffer->floatChannelData(), buffer->channelCount(), buffer->frameLength(),
                              static_cast<float>(format.sampleRate));
    });

    int passes = 0;
    const Timing master = best(repetitions, [&] {
        BPMAnalyzer::clearCache();
        auto result = AudioProcessor::masterAudioFile(song, DJMasteringSettings{-10.0f, -0.2f}, false,
                                                      std::nullopt, nullptr, {});
        if (!result) fail("mastering", result.error());
        passes = result->passes;
        fs::remove(result->outputURL);
    });

    const double calls = 2.0;
    const double shareWall = 100.0 * calls * delivery.wall / master.wall;
    const double shareCpu = 100.0 * calls * delivery.cpu / master.cpu;
    std::printf("measureLoudness (the system's figures), 120 s %7.1f ms wall %7.1f ms cpu\n",
                system.wall * 1e3, system.cpu * 1e3);
    std::printf("measureDelivery (true peak, R128), 120 s      %7.1f ms wall %7.1f ms cpu\n",
                delivery.wall * 1e3, delivery.cpu * 1e3);
    std::printf("masterAudioFile (Club, %d pass%s)              %7.1f ms wall %7.1f ms cpu\n", passes,
                passes == 1 ? "" : "es", master.wall * 1e3, master.cpu * 1e3);
    std::printf("Delivery figures in a master: %.0f x measureDelivery = %.1f %% of the wall time, "
                "%.1f %% of the cpu time (target <= 10 %%: %s)\n",
                calls, shareWall, shareCpu, shareWall <= 10.0 ? "met" : "NOT met");
    return shareWall <= 10.0 ? 0 : 1;
}
