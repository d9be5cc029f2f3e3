// What the delivery figures (true peak and LUFS (R128) of the whole original and the whole
// master) cost a master: masterAudioFile (Club preset) on a four-minute 44.1 kHz stereo song,
// run in pairs with the figures on and off (alternating, so that both see the same machine), and
// the median of the pairs' ratios reported. measureDelivery of the whole song alone is printed
// beside it: the master measures the original on a thread of its own and every pass on the
// writer's thread as it is written (trial passes given up half-way included), so part of that
// work runs beside the rendering.
//
// Target: at most 10 % of the master's time.
//
// Usage: korvanta-bench-delivery [repetitions] [DEMO_DIR]   (default 5 pairs). DEMO_DIR may also
//        come from the environment variable KORVANTA_DEMO_DIR.

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

    // The whole song, in memory.
    auto reader = AudioFileReader::open(song);
    if (!reader) fail("opening the song", reader.error());
    const AudioFormat format = reader.value()->processingFormat();
    auto buffer = PcmBuffer::allocate(format, static_cast<uint32_t>(reader.value()->length()));
    if (auto read = reader.value()->read(*buffer); !read) fail("reading the song", read.error());

    const Timing delivery = best(repetitions, [&] {
        (void)measureDelivery(buffer->floatChannelData(), buffer->channelCount(), buffer->frameLength(),
                              format.sampleRate);
    });

    // The same song as a 320 kb/s MP3 too (the usual input), when the ffmpeg tool is there.
    std::vector<std::pair<std::string, fs::path>> inputs{{"WAV", song}};
    const fs::path mp3 = scratch.path() / "song.mp3";
    const std::string convert = "ffmpeg -v error -y -i '" + song.string() + "' -c:a libmp3lame -b:a 320k '" +
                                mp3.string() + "' >/dev/null 2>&1";
    if (std::system(convert.c_str()) == 0 && fs::exists(mp3)) inputs.emplace_back("MP3 320k", mp3);

    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
    };
    std::printf("measureDelivery (true peak, R128), whole song %7.1f ms wall %7.1f ms cpu\n",
                delivery.wall * 1e3, delivery.cpu * 1e3);
    bool met = true;
    for (const auto& [label, input] : inputs) {
        int passes = 0;
        const auto masterOnce = [&, &input = input](bool withDelivery) {
            setDeliveryFiguresEnabled(withDelivery);
            BPMAnalyzer::clearCache();
            auto result = AudioProcessor::masterAudioFile(input, DJMasteringSettings{-10.0f, -0.2f}, false,
                                                          std::nullopt, nullptr, {});
            if (!result) fail("mastering", result.error());
            if (withDelivery && !(result->stats.hasDeliveryFigures() && result->inputStats &&
                                  result->inputStats->hasDeliveryFigures())) {
                std::fprintf(stderr, "the master came without its delivery figures\n");
                std::exit(1);
            }
            passes = result->passes;
            fs::remove(result->outputURL);
        };
        masterOnce(true);  // warm the caches
        std::vector<double> wallRatios, cpuRatios;
        Timing with, without;
        for (int i = 0; i < repetitions; ++i) {
            const Timing on = best(1, [&] { masterOnce(true); });
            const Timing off = best(1, [&] { masterOnce(false); });
            wallRatios.push_back(on.wall / off.wall);
            cpuRatios.push_back(on.cpu / off.cpu);
            with.wall = std::min(with.wall, on.wall), with.cpu = std::min(with.cpu, on.cpu);
            without.wall = std::min(without.wall, off.wall), without.cpu = std::min(without.cpu, off.cpu);
        }
        setDeliveryFiguresEnabled(true);
        const double shareWall = 100.0 * (median(wallRatios) - 1.0);
        const double shareCpu = 100.0 * (median(cpuRatios) - 1.0);
        std::printf("%s, Club, %d pass%s: figures off %7.1f ms wall %7.1f ms cpu; on %7.1f ms wall %7.1f ms cpu "
                    "(fastest)\n",
                    label.c_str(), passes, passes == 1 ? "" : "es", without.wall * 1e3, without.cpu * 1e3,
                    with.wall * 1e3, with.cpu * 1e3);
        std::printf("%s: delivery figures cost (median of %d pairs) %+.1f %% wall time, %+.1f %% cpu time "
                    "(target <= 10 %% wall: %s)\n",
                    label.c_str(), repetitions, shareWall, shareCpu, shareWall <= 10.0 ? "met" : "NOT met");
        met = met && shareWall <= 10.0;
    }
    return met ? 0 : 1;
}
