#include "BenchSongs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <random>
#include <vector>

#include "platform/WavWriter.h"

namespace korvanta::bench {

namespace fs = std::filesystem;

namespace {
constexpr double kSampleRate = kBenchSampleRate;
}  // namespace

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

bool writeSyntheticSong(const fs::path& path, double seconds, uint32_t seed, double verseLevel,
                        double chorusLevel) {
    auto writer = WavWriter::create(path, {kSampleRate, 2}, WavSampleFormat::int16);
    if (!writer) return false;
    const auto frames = static_cast<int64_t>(kSampleRate * seconds);
    constexpr uint32_t kChunk = 1 << 16;
    std::vector<float> left(kChunk), right(kChunk);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const double beat = 60.0 / 124.0;
    const double chordRoots[] = {220.0, 174.6, 261.6, 196.0};
    for (int64_t start = 0; start < frames; start += kChunk) {
        const auto n = static_cast<uint32_t>(std::min<int64_t>(kChunk, frames - start));
        for (uint32_t i = 0; i < n; ++i) {
            const double t = double(start + i) / kSampleRate;
            const double section = (int64_t(t / 30.0) % 2) ? chorusLevel : verseLevel;
            const double sinceBeat = std::fmod(t, beat);
            const double kick = std::exp(-sinceBeat * 20.0) * std::sin(2 * M_PI * 52.0 * sinceBeat);
            const double root = chordRoots[int64_t(t / (4 * beat)) % 4];
            const double chord = std::sin(2 * M_PI * root * t) + std::sin(2 * M_PI * root * 1.26 * t) +
                                 std::sin(2 * M_PI * root * 1.5 * t);
            const double bass = std::sin(2 * M_PI * root / 4 * t);
            const double hat = std::exp(-std::fmod(t + beat / 2, beat) * 60.0);
            const double common = section * (0.45 * kick + 0.08 * chord + 0.2 * bass);
            left[i] = float(common + section * 0.12 * hat * noise(random));
            right[i] = float(common + section * 0.12 * hat * noise(random));
        }
        const float* planes[] = {left.data(), right.data()};
        if (!writer.value()->write(planes, 2, n)) return false;
    }
    return bool(writer.value()->close());
}

bool writeDemoSong(const fs::path& demoDir, const fs::path& folder, const fs::path& path,
                   double seconds) {
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
    const fs::path once = folder / "demo-once.wav";
    if (!fs::exists(once)) {
        std::string inputs, filter;
        for (size_t i = 0; i < songs.size(); ++i) {
            inputs += " -i " + quote(songs[i]);
            filter += "[" + std::to_string(i) +
                      ":a:0]aresample=44100,aformat=sample_fmts=fltp:channel_layouts=stereo[a" +
                      std::to_string(i) + "];";
        }
        for (size_t i = 0; i < songs.size(); ++i) filter += "[a" + std::to_string(i) + "]";
        filter += "concat=n=" + std::to_string(songs.size()) + ":v=0:a=1[out]";
        if (!run("ffmpeg -nostdin -v error -y" + inputs + " -filter_complex " + quote(filter) +
                 " -map '[out]' -c:a pcm_f32le " + quote(once))) {
            return false;
        }
    }
    return run("ffmpeg -nostdin -v error -y -stream_loop -1 -i " + quote(once) + " -t " +
               std::to_string(int(seconds)) + " -c:a pcm_s16le " + quote(path));
}

ScratchFolder::ScratchFolder(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") /
            ("korvanta-bench-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

BenchArguments parseBenchArguments(int argc, char** argv, int defaultRepetitions) {
    BenchArguments out{defaultRepetitions, {}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!arg.empty() && std::all_of(arg.begin(), arg.end(), ::isdigit)) {
            out.repetitions = std::max(1, std::atoi(arg.c_str()));
        } else {
            out.demoDir = arg;
        }
    }
    if (out.demoDir.empty()) {
        if (const char* env = std::getenv("KORVANTA_DEMO_DIR"); env && *env) out.demoDir = env;
    }
    return out;
}

}  // namespace korvanta::bench
