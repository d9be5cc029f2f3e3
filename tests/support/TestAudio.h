// Helpers for tests: scratch folders, synthetic signals and audio files made from them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/PcmBuffer.h"
#include "platform/WavWriter.h"

namespace korvanta::test {

// A fresh folder under the test temporary root (or under `base`), removed with everything in it
// on destruction.
class ScratchFolder {
public:
    ScratchFolder();
    explicit ScratchFolder(const std::filesystem::path& base);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Planar audio held in memory: one vector per channel.
struct Signal {
    double sampleRate = 44100.0;
    std::vector<std::vector<float>> channels;

    int channelCount() const { return static_cast<int>(channels.size()); }
    size_t frameCount() const { return channels.empty() ? 0 : channels[0].size(); }
};

// Pointers to the channels, as the planar interfaces take them.
inline std::vector<const float*> planes(const Signal& s) {
    std::vector<const float*> p;
    for (const auto& ch : s.channels) p.push_back(ch.data());
    return p;
}

// sample(channel, frame) -> value
Signal makeSignal(double sampleRate, int channelCount, size_t frameCount,
                  const std::function<float(int, size_t)>& sample);
Signal makeSine(double sampleRate, int channelCount, double seconds, double frequency,
                float amplitude);
// Deterministic white noise in [−amplitude, amplitude], one independent stream per channel.
Signal makeNoise(double sampleRate, int channelCount, double seconds, float amplitude,
                 uint32_t seed = 1);

// A stereo music-like song at 126 BPM: kick, noise snare and hats (each channel with its own
// noise from `seed`), bass and a pad whose root changes every bar, mixed apart per channel. At
// `level` 1 its peaks come close to full scale.
Signal makeSong(double sampleRate, double seconds, uint32_t seed, float level = 1.0f);

void writeWav(const std::filesystem::path& path, const Signal& signal,
              WavSampleFormat format = WavSampleFormat::float32);

// Runs the ffmpeg command-line tool (a test-only reference) to convert `source` into `target`
// with the given output options, e.g. "-c:a libmp3lame -q:a 2". Fails the test when it fails.
void convertWithFfmpeg(const std::filesystem::path& source, const std::filesystem::path& target,
                       const std::string& outputOptions);

// Reads a whole file through AudioFileReader; fails the test when it cannot.
Signal readAll(const std::filesystem::path& path);

// Runs a shell command and returns its standard output; `status` receives the exit status.
std::string runCommand(const std::string& command, int* status = nullptr);

std::string shellQuote(const std::string& text);

// One field of the first audio stream as ffprobe prints it ("codec_name", "sample_rate").
std::string ffprobeStreamField(const std::filesystem::path& path, const std::string& field,
                               const std::string& options = "");

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);
// Deterministic random bytes from `seed`.
std::string randomBytes(size_t size, uint32_t seed);
// A plain text of some 20 kB: a list of songs.
std::string notAudioText();

}  // namespace korvanta::test
