// Songs and shell helpers shared by the benchmarks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace korvanta::bench {

inline constexpr double kBenchSampleRate = 44100.0;

// `text` quoted for a POSIX shell.
std::string quote(const std::string& text);

// Runs a shell command; prints it to standard error when it fails.
bool run(const std::string& command);

// A 44.1 kHz stereo 16-bit WAV of music-like material: verses and choruses at the given levels
// (alternating every 30 s), a kick on every beat at 124 bpm, bass, three-note chords that change
// every bar, hi-hat noise on the off-beats (from `seed`), a little stereo spread.
bool writeSyntheticSong(const std::filesystem::path& path, double seconds, uint32_t seed,
                        double verseLevel, double chorusLevel);

// The audio files of `demoDir`, in name order, played one after another and over again up to
// `seconds`, as a 44.1 kHz stereo 16-bit WAV at `path`; `folder` keeps the intermediate mix.
// Needs the ffmpeg command-line tool.
bool writeDemoSong(const std::filesystem::path& demoDir, const std::filesystem::path& folder,
                   const std::filesystem::path& path, double seconds);

// A benchmark's command line: a number of repetitions and/or a folder of demo songs, the folder
// defaulting to $KORVANTA_DEMO_DIR (empty when neither is given).
struct BenchArguments {
    int repetitions;
    std::filesystem::path demoDir;
};
BenchArguments parseBenchArguments(int argc, char** argv, int defaultRepetitions);

// A folder of its own for one benchmark run, `$TMPDIR/korvanta-bench-<name>-<pid>` (or under
// /tmp), made on construction and removed with everything in it on destruction.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace korvanta::bench
