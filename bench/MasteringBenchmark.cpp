// Times the whole mastering pipeline (AudioProcessor::masterAudioFile, Club preset) on a
// four-minute 44.1 kHz stereo song, as a 16-bit WAV and as an MP3, against decoding the same file
// once and against FFmpeg's two-pass loudnorm run as a user would run it. Prints, per file, the
// passes taken, the seconds of each, and the ratios mastering / decode-once and loudnorm /
// mastering; then the MP3 at every preset (the passes each needs and its cost against one
// decode); then the pipeline's stages on their own; then the peak memory of a process mastering
// a ten-minute song.
//
// Targets: a three-pass master within 3x one MP3 decode; at least 15x faster than two-pass
// loudnorm; peak memory below 400 MB.
//
// The song is synthetic, music-like material, or the demo songs of a folder played one after
// another (and over again) up to the length needed, resampled to 44.1 kHz stereo.
//
// Usage: korvanta-bench-mastering [repetitions] [DEMO_DIR]   (default 3 repetitions; the fastest
//        of each is reported). DEMO_DIR may also come from the environment variable
//        KORVANTA_DEMO_DIR. Needs the ffmpeg command-line tool (libmp3lame, loudnorm).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/TempoAnalyzer.h"
#include "engine/LoudnessMeter.h"
#include "engine/MasteringRenderer.h"
#include "mastering/AudioProcessor.h"
#include "platform/AudioFileReader.h"
#include "platform/PcmBuffer.h"
#include "platform/Preferences.h"
#include "platform/WavWriter.h"

#include "BenchSongs.h"
#include "BenchTiming.h"

namespace fs = std::filesystem;
using namespace korvanta;
using namespace korvanta::bench;

namespace {

constexpr DJMasteringSettings kClub{-10.0f, -0.2f};
constexpr uint32_t kDecodeChunk = 88200;  // 2 s, as the renderer reads on this machine class

// Standard output of a shell command, or nullopt when it fails.
std::optional<std::string> capture(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    if (::pclose(pipe) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        return std::nullopt;
    }
    return out;
}

// --- Songs --------------------------------------------------------------------------------------

bool makeSongs(const fs::path& demoDir, const fs::path& folder, double seconds, const fs::path& wav,
               const fs::path& mp3) {
    const bool made = demoDir.empty() ? writeSyntheticSong(wav, seconds, 17, 0.25, 0.5)
                                      : writeDemoSong(demoDir, folder, wav, seconds);
    return made && run("ffmpeg -nostdin -v error -y -i " + quote(wav) + " -c:a libmp3lame -q:a 2 " +
                       quote(mp3));
}

// --- What is timed ------------------------------------------------------------------------------

DJMasteringResult masterOnce(const fs::path& path, const DJMasteringSettings& settings = kClub) {
    BPMAnalyzer::clearCache();
    auto result = AudioProcessor::masterAudioFile(path, settings, false, std::nullopt, nullptr, {});
    if (!result) fail("mastering " + path.filename().string(), result.error());
    fs::remove(result->outputURL);
    return result.value();
}

// FFmpeg's loudnorm in two passes to the Club target: measure, then normalise linearly with the
// measured values into a 16-bit WAV at the input's rate.
void loudnormTwoPass(const fs::path& input, const fs::path& output) {
    auto measured = capture("ffmpeg -nostdin -hide_banner -nostats -i " + quote(input) +
                            " -af loudnorm=I=-10:TP=-0.2:print_format=json -f null - 2>&1");
    if (!measured) std::exit(1);
    const auto open = measured->rfind('{');
    const auto close = measured->rfind('}');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        std::fprintf(stderr, "loudnorm printed no measurement:\n%s\n", measured->c_str());
        std::exit(1);
    }
    const auto values = nlohmann::json::parse(measured->substr(open, close - open + 1), nullptr, false);
    if (values.is_discarded()) {
        std::fprintf(stderr, "loudnorm's measurement is not JSON\n");
        std::exit(1);
    }
    auto field = [&](const char* key) { return values.value(key, std::string("0")); };
    const std::string filter = "loudnorm=I=-10:TP=-0.2:measured_I=" + field("input_i") +
                               ":measured_TP=" + field("input_tp") + ":measured_LRA=" +
                               field("input_lra") + ":measured_thresh=" + field("input_thresh") +
                               ":offset=" + field("target_offset") + ":linear=true";
    if (!run("ffmpeg -nostdin -v error -y -i " + quote(input) + " -af " + quote(filter) +
             " -ar 44100 -c:a pcm_s16le " + quote(output))) {
        std::exit(1);
    }
}

void printTiming(const char* what, const Timing& t) {
    std::printf("  %-34s %8.2f s wall %8.2f s cpu\n", what, t.wall, t.cpu);
}

// --- Peak memory --------------------------------------------------------------------------------

long statusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

// In a child process: master `path` and print the process's peak resident memory (VmHWM) before
// and after, in kB.
int peakMemoryChild(const fs::path& path) {
    const long before = statusKilobytes("VmHWM");
    auto result = AudioProcessor::masterAudioFile(path, kClub, false, std::nullopt, nullptr, {});
    if (!result) fail("mastering", result.error());
    const long after = statusKilobytes("VmHWM");
    std::printf("%ld %ld %d\n", before, after, result->passes);
    fs::remove(result->outputURL);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--peak-memory-of") return peakMemoryChild(argv[2]);

    const auto [repetitions, demoDir] = parseBenchArguments(argc, argv, 3);

    const ScratchFolder scratch("mastering");
    const fs::path& folder = scratch.path();
    installSharedPreferences(std::make_shared<MemoryPreferences>());  // 16-bit masters

    const fs::path wav = folder / "song.wav";
    const fs::path mp3 = folder / "song.mp3";
    std::printf("Making a 4-minute 44.1 kHz stereo song from %s (16-bit WAV and MP3 -q:a 2)\n",
                demoDir.empty() ? "synthetic material" : demoDir.c_str());
    std::fflush(stdout);
    if (!makeSongs(demoDir, folder, 240.0, wav, mp3)) {
        std::fprintf(stderr, "could not make the benchmark songs\n");
        return 1;
    }
    auto inputStats = analyzeAudioFile(wav);
    if (!inputStats) fail("measuring the song", inputStats.error());
    std::printf("Input: %.2f LUFS, peak %.2f dBFS; Club preset (-10 LUFS, ceiling -0.2 dBFS); "
                "fastest of %d runs\n\n",
                inputStats->lufs, inputStats->peak, repetitions);

    struct Row {
        const char* name;
        fs::path path;
        int passes = 0;
        Timing master{}, decode{}, loudnorm{};
    };
    std::vector<Row> rows{{"wav16", wav}, {"mp3", mp3}};
    for (Row& row : rows) {
        std::printf("%s\n", row.name);
        row.decode = best(repetitions, [&] { decodeOnce(row.path, kDecodeChunk); });
        printTiming("decode once", row.decode);
        row.master = best(repetitions, [&] { row.passes = masterOnce(row.path).passes; });
        printTiming(("masterAudioFile (" + std::to_string(row.passes) + " passes)").c_str(),
                    row.master);
        row.loudnorm = best(std::min(repetitions, 2),
                            [&] { loudnormTwoPass(row.path, folder / "loudnorm.wav"); });
        printTiming("ffmpeg loudnorm, two passes", row.loudnorm);
        std::fflush(stdout);
    }

    // The MP3 at every preset: how many passes each needs, and what each costs against one decode.
    // The slowest three-pass run is the one the decode target is about.
    std::printf("\nThe MP3 at every preset:\n");
    const Row& mp3Row = rows[1];
    Timing threePass{};
    bool anyThreePass = false;
    for (const MasteringPreset& preset : kMasteringPresets) {
        int passes = 0;
        const Timing t = best(repetitions, [&] { passes = masterOnce(mp3, preset.settings).passes; });
        std::printf("  %-9s %d passes  %6.2f s wall %6.2f s cpu  %5.2fx decode (wall)\n",
                    std::string(preset.name).c_str(), passes, t.wall, t.cpu, t.wall / mp3Row.decode.wall);
        if (passes == 3 && (!anyThreePass || t.wall > threePass.wall)) threePass = t;
        anyThreePass = anyThreePass || passes == 3;
    }
    std::fflush(stdout);

    // The pipeline's stages on their own, on the MP3: decoding it into the float copy (the road of
    // songs too long to keep in memory), measuring, the tempo estimate, one rendering pass at the
    // first gain.
    std::printf("\nStages of the pipeline on the MP3 (each timed alone):\n");
    const fs::path copy = folder / "decoded.wav";
    const Timing decodeToCopy = best(repetitions, [&] {
        fs::remove(copy);
        auto reader = AudioFileReader::open(mp3);
        if (!reader) fail("decoding", reader.error());
        auto writer = WavWriter::create(copy, reader.value()->processingFormat(), WavSampleFormat::float32);
        if (!writer) fail("writing the copy", writer.error());
        auto buffer = PcmBuffer::allocate(reader.value()->processingFormat(), kDecodeChunk);
        while (reader.value()->framePosition() < reader.value()->length()) {
            if (Status s = reader.value()->read(*buffer); !s || buffer->frameLength() == 0) break;
            if (Status s = writer.value()->write(*buffer); !s) fail("writing the copy", s.error());
        }
        if (Status s = writer.value()->close(); !s) fail("writing the copy", s.error());
    });
    printTiming("decode into a float WAV copy", decodeToCopy);
    const Timing measure = best(repetitions, [&] {
        if (auto s = analyzeAudioFile(copy); !s) fail("measuring", s.error());
    });
    printTiming("analyzeAudioFile (float copy)", measure);
    int bpm = 0;
    const Timing tempo = best(repetitions, [&] {
        BPMAnalyzer::clearCache();
        auto t = BPMAnalyzer::detectTempo(copy);
        if (!t) fail("tempo", t.error());
        bpm = t.value();
    });
    printTiming("BPMAnalyzer::detectTempo (float copy)", tempo);
    const float gain = float(std::pow(
        10.0, AudioProcessor::firstGainDb(inputStats->lufs, inputStats->peak, kClub.targetLUFS) / 20.0));
    const Timing pass = best(repetitions, [&] {
        if (Status s = renderMasteringPass(copy, folder / "pass.wav", kClub.targetLUFS,
                                           kClub.limitThreshold, gain, bpm, {}, {});
            !s) {
            fail("rendering", s.error());
        }
    });
    printTiming("renderMasteringPass (float copy)", pass);
    const Timing measurePass = best(repetitions, [&] {
        if (auto s = analyzeAudioFile(folder / "pass.wav"); !s) fail("measuring", s.error());
    });
    printTiming("analyzeAudioFile (16-bit pass)", measurePass);

    // Peak memory of a separate process mastering a ten-minute song.
    std::printf("\nPeak memory while mastering a 10-minute song (separate process, VmHWM):\n");
    std::fflush(stdout);
    const fs::path longWav = folder / "long.wav";
    const fs::path longMp3 = folder / "long.mp3";
    if (!makeSongs(demoDir, folder, 600.0, longWav, longMp3)) {
        std::fprintf(stderr, "could not make the ten-minute song\n");
        return 1;
    }
    double worstMb = 0.0;
    for (const auto& [name, path] : {std::pair{"wav16", longWav}, std::pair{"mp3", longMp3}}) {
        auto out = capture(quote(fs::read_symlink("/proc/self/exe")) + " --peak-memory-of " + quote(path));
        long before = 0, after = 0;
        int passes = 0;
        if (!out || std::sscanf(out->c_str(), "%ld %ld %d", &before, &after, &passes) != 3) return 1;
        std::printf("  %-6s %d passes: peak %.1f MB (%.1f MB before mastering)\n", name, passes,
                    after / 1024.0, before / 1024.0);
        worstMb = std::max(worstMb, after / 1024.0);
    }

    std::printf("\nSummary (cpu seconds; wall in brackets)\n");
    for (const Row& row : rows) {
        std::printf("  %-6s %d passes  master %6.2f s (%6.2f)  decode once %6.2f s (%6.2f)  "
                    "master/decode %5.2f (%5.2f)  loudnorm %6.2f s (%6.2f)  loudnorm/master %5.1f (%5.1f)\n",
                    row.name, row.passes, row.master.cpu, row.master.wall, row.decode.cpu,
                    row.decode.wall, row.master.cpu / row.decode.cpu, row.master.wall / row.decode.wall,
                    row.loudnorm.cpu, row.loudnorm.wall, row.loudnorm.cpu / row.master.cpu,
                    row.loudnorm.wall / row.master.wall);
    }
    const Row& m = rows[1];
    if (anyThreePass) {
        std::printf("Targets: three-pass MP3 master <= 3x one MP3 decode: %.2fx cpu, %.2fx wall (%s)\n",
                    threePass.cpu / m.decode.cpu, threePass.wall / m.decode.wall,
                    threePass.wall / m.decode.wall <= 3.0 ? "met" : "missed");
    } else {
        std::printf("Targets: MP3 master <= 3x one MP3 decode (no preset took three passes): "
                    "%.2fx cpu, %.2fx wall (%s)\n",
                    m.master.cpu / m.decode.cpu, m.master.wall / m.decode.wall,
                    m.master.wall / m.decode.wall <= 3.0 ? "met" : "missed");
    }
    std::printf("         >= 15x faster than two-pass loudnorm: wav %.1fx, mp3 %.1fx wall (%s)\n",
                rows[0].loudnorm.wall / rows[0].master.wall, m.loudnorm.wall / m.master.wall,
                std::min(rows[0].loudnorm.wall / rows[0].master.wall, m.loudnorm.wall / m.master.wall) >= 15.0
                    ? "met" : "missed");
    std::printf("         peak memory < 400 MB: %.1f MB (%s)\n", worstMb,
                worstMb < 400.0 ? "met" : "missed");
    return 0;
}
