// Times analyzeAudioFile on a ten-minute 44.1 kHz stereo song, as a 16-bit WAV and as an MP3,
// against decoding the same central 120-second window alone (open, allocate, seek, one read), and
// prints the ratio measurement / decoding for each file. The measurement on samples already in
// memory is timed too, to show what the analysis itself costs.
//
// The song is synthetic, music-like material, or the demo songs of a folder played one after
// another (and over again) up to ten minutes, resampled to 44.1 kHz stereo.
//
// Usage: korvanta-bench-measure [benchmark flags] [DEMO_DIR]
//        DEMO_DIR may also come from the environment variable KORVANTA_DEMO_DIR.
// Needs the ffmpeg command-line tool (libmp3lame) to make the MP3 and to mix demo songs.
#include <benchmark/benchmark.h>


#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/LoudnessMeasurement.h"
#include "engine/LoudnessMeter.h"
#include "platform/AudioFileReader.h"
#include "platform/PcmBuffer.h"
#include "platform/WavWriter.h"

#include "BenchSongs.h"

namespace fs = std::filesystem;
using namespace korvanta;
using namespace korvanta::bench;

namespace {

constexpr double kSongSeconds = 600.0;
constexpr double kWindowSeconds = 120.0;

std::unique_ptr<PcmBuffer> decodeWindow(const fs::path& path) {
    auto file = AudioFileReader::open(path);
    if (!file) return nullptr;
    AudioFileReader& reader = *file.value();
    const auto window = static_cast<uint32_t>(std::min<int64_t>(
        reader.length(), int64_t(reader.processingFormat().sampleRate * kWindowSeconds)));
    auto buffer = PcmBuffer::allocate(reader.processingFormat(), window);
    if (!buffer) return nullptr;
    reader.setFramePosition((reader.length() - window) / 2);
    if (!reader.read(*buffer)) return nullptr;
    return buffer;
}

void benchDecodeWindow(benchmark::State& state, fs::path path) {
    for (auto _ : state) {
        auto buffer = decodeWindow(path);
        if (!buffer) {
            state.SkipWithError("decoding failed");
            return;
        }
        benchmark::DoNotOptimize(buffer->channel(0));
    }
}

void benchAnalyze(benchmark::State& state, fs::path path) {
    for (auto _ : state) {
        auto stats = analyzeAudioFile(path);
        if (!stats) {
            state.SkipWithError(stats.error().description().c_str());
            return;
        }
        benchmark::DoNotOptimize(stats.value());
    }
}

void benchMeasureOnly(benchmark::State& state, fs::path path) {
    auto buffer = decodeWindow(path);
    if (!buffer) {
        state.SkipWithError("decoding failed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(measureLoudness(buffer->floatChannelData(), buffer->channelCount(),
                                                 buffer->frameLength(),
                                                 float(buffer->sampleRate())));
    }
}

// Passes everything to the console and keeps each benchmark's fastest repetition, in wall-clock
// time and in process CPU time (the steadier figure on a busy machine).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Best {
        double realSeconds = 0.0;
        double cpuSeconds = 0.0;
    };

    RatioReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations == 0) continue;
            const Best run{r.real_accumulated_time / double(r.iterations),
                           r.cpu_accumulated_time / double(r.iterations)};
            auto [it, inserted] = best_.try_emplace(r.run_name.function_name, run);
            if (!inserted) {
                it->second.realSeconds = std::min(it->second.realSeconds, run.realSeconds);
                it->second.cpuSeconds = std::min(it->second.cpuSeconds, run.cpuSeconds);
            }
        }
    }
    Best best(const std::string& name) const {
        const auto it = best_.find(name);
        return it == best_.end() ? Best{} : it->second;
    }

private:
    std::map<std::string, Best> best_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    fs::path demoDir;
    if (argc > 1) {
        demoDir = argv[1];
    } else if (const char* env = std::getenv("KORVANTA_DEMO_DIR"); env && *env) {
        demoDir = env;
    }

    const ScratchFolder scratch("measure");
    const fs::path& folder = scratch.path();

    const fs::path wav = folder / "song.wav";
    const fs::path mp3 = folder / "song.mp3";
    std::printf("Making a %.0f-minute 44.1 kHz stereo song from %s\n", kSongSeconds / 60,
                demoDir.empty() ? "synthetic material" : demoDir.c_str());
    std::fflush(stdout);
    const bool made = demoDir.empty() ? bench::writeSyntheticSong(wav, kSongSeconds, 11, 0.45, 1.0)
                                      : bench::writeDemoSong(demoDir, folder, wav, kSongSeconds);
    if (!made || !run("ffmpeg -nostdin -v error -y -i " + quote(wav) +
                      " -c:a libmp3lame -q:a 2 " + quote(mp3))) {
        std::fprintf(stderr, "could not make the benchmark songs\n");
        return 1;
    }

    const std::vector<std::pair<std::string, fs::path>> files = {{"wav16", wav}, {"mp3", mp3}};
    for (const auto& [name, path] : files) {
        benchmark::RegisterBenchmark(("decode_window/" + name).c_str(), benchDecodeWindow, path)
            ->Unit(benchmark::kMillisecond)->Repetitions(5);
        benchmark::RegisterBenchmark(("analyze/" + name).c_str(), benchAnalyze, path)
            ->Unit(benchmark::kMillisecond)->Repetitions(5);
        benchmark::RegisterBenchmark(("measure_only/" + name).c_str(), benchMeasureOnly, path)
            ->Unit(benchmark::kMillisecond)->Repetitions(5);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nFastest repetition of each; ratio = analyzeAudioFile / decoding the 120-s "
                "window alone\n");
    for (const auto& [name, path] : files) {
        const auto decode = reporter.best("decode_window/" + name);
        const auto analyze = reporter.best("analyze/" + name);
        const auto measureOnly = reporter.best("measure_only/" + name);
        if (decode.realSeconds <= 0 || decode.cpuSeconds <= 0) continue;
        for (const auto& [clock, pick] :
             {std::pair{"cpu ", &RatioReporter::Best::cpuSeconds},
              std::pair{"real", &RatioReporter::Best::realSeconds}}) {
            std::printf("%-6s %s  decode %8.2f ms  analyze %8.2f ms  (measurement alone %6.2f ms)"
                        "  ratio %.3f\n",
                        name.c_str(), clock, decode.*pick * 1e3, analyze.*pick * 1e3,
                        measureOnly.*pick * 1e3, analyze.*pick / decode.*pick);
        }
    }
    return 0;
}
