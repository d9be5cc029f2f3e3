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

#include <unistd.h>

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

namespace fs = std::filesystem;
using namespace korvanta;

namespace {

constexpr double kSampleRate = 44100.0;
constexpr double kSongSeconds = 600.0;
constexpr double kWindowSeconds = 120.0;

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool run(const std::string& command) {
    if (std::system(command.c_str()) == 0) return true;
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    return false;
}

// Verses and choruses at different levels: a kick on every beat at 124 bpm, bass, three-note
// chords that change every bar, hi-hat noise on the off-beats, and a little stereo spread.
bool writeSyntheticSong(const fs::path& path) {
    auto writer = WavWriter::create(path, {kSampleRate, 2}, WavSampleFormat::int16);
    if (!writer) return false;
    const auto frames = static_cast<int64_t>(kSampleRate * kSongSeconds);
    constexpr uint32_t kChunk = 1 << 16;
    std::vector<float> left(kChunk), right(kChunk);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const double beat = 60.0 / 124.0;
    const double chordRoots[] = {220.0, 174.6, 261.6, 196.0};
    for (int64_t start = 0; start < frames; start += kChunk) {
        const auto n = static_cast<uint32_t>(std::min<int64_t>(kChunk, frames - start));
        for (uint32_t i = 0; i < n; ++i) {
            const double t = double(start + i) / kSampleRate;
            const double section = (int64_t(t / 30.0) % 2) ? 1.0 : 0.45;  // chorus / verse
            const double sinceBeat = std::fmod(t, beat);
            const double kick = std::exp(-sinceBeat * 20.0) * std::sin(2 * M_PI * 52.0 * sinceBeat);
            const double root = chordRoots[int64_t(t / (4 * beat)) % 4];
            const double chord = std::sin(2 * M_PI * root * t) + std::sin(2 * M_PI * root * 1.26 * t) +
                                 std::sin(2 * M_PI * root * 1.5 * t);
            const double bass = std::sin(2 * M_PI * root / 4 * t);
            const double sinceOffbeat = std::fmod(t + beat / 2, beat);
            const double hat = std::exp(-sinceOffbeat * 60.0);
            const double common = section * (0.45 * kick + 0.08 * chord + 0.2 * bass);
            left[i] = float(common + section * 0.12 * hat * noise(random));
            right[i] = float(common + section * 0.12 * hat * noise(random));
        }
        const float* planes[] = {left.data(), right.data()};
        if (!writer.value()->write(planes, 2, n)) return false;
    }
    return bool(writer.value()->close());
}

// The folder's songs, in name order, one after another and over again up to ten minutes.
bool writeDemoSong(const fs::path& demoDir, const fs::path& folder, const fs::path& path) {
    static const std::vector<std::string> kExtensions = {".mp3", ".wav", ".aiff", ".aif",
                                                         ".m4a", ".flac", ".ogg", ".aac"};
    std::vector<fs::path> songs;
    for (const auto& entry : fs::directory_iterator(demoDir)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (entry.is_regular_file() &&
            std::find(kExtensions.begin(), kExtensions.end(), ext) != kExtensions.end()) {
            songs.push_back(entry.path());
        }
    }
    std::sort(songs.begin(), songs.end());
    if (songs.empty()) {
        std::fprintf(stderr, "no songs in %s\n", demoDir.c_str());
        return false;
    }
    std::string inputs, filter;
    for (size_t i = 0; i < songs.size(); ++i) {
        inputs += " -i " + quote(songs[i]);
        filter += "[" + std::to_string(i) +
                  ":a:0]aresample=44100,aformat=sample_fmts=fltp:channel_layouts=stereo[a" +
                  std::to_string(i) + "];";
    }
    for (size_t i = 0; i < songs.size(); ++i) filter += "[a" + std::to_string(i) + "]";
    filter += "concat=n=" + std::to_string(songs.size()) + ":v=0:a=1[out]";
    const fs::path once = folder / "demo-once.wav";
    return run("ffmpeg -nostdin -v error -y" + inputs + " -filter_complex " + quote(filter) +
               " -map '[out]' -c:a pcm_f32le " + quote(once)) &&
           run("ffmpeg -nostdin -v error -y -stream_loop -1 -i " + quote(once) + " -t " +
               std::to_string(int(kSongSeconds)) + " -c:a pcm_s16le " + quote(path));
}

// Opens the file and reads its central window, as analyzeAudioFile does before measuring.
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

    const char* tmp = std::getenv("TMPDIR");
    const fs::path folder = fs::path(tmp && *tmp ? tmp : "/tmp") /
                            ("korvanta-bench-measure-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    struct Cleanup {
        fs::path path;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } cleanup{folder};

    const fs::path wav = folder / "song.wav";
    const fs::path mp3 = folder / "song.mp3";
    std::printf("Making a %.0f-minute 44.1 kHz stereo song from %s\n", kSongSeconds / 60,
                demoDir.empty() ? "synthetic material" : demoDir.c_str());
    std::fflush(stdout);
    const bool made = demoDir.empty() ? writeSyntheticSong(wav) : writeDemoSong(demoDir, folder, wav);
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
