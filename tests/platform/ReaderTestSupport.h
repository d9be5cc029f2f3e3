// Helpers shared by the audio file service tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/AudioFileReader.h"
#include "support/ChildProcess.h"
#include "support/TestAudio.h"

namespace korvanta::test {

// The signal rounded to the `bits`-bit integer grid (k / 2^(bits−1)), which any lossless encoding
// at that depth reproduces exactly.
Signal onGrid(Signal signal, int bits);

// Sines over quiet noise; on channel c a tone has the frequency `frequency + perChannel · c`.
struct Tone {
    double amplitude, frequency, perChannel;
};
Signal tonesOverNoise(double sampleRate, int channels, double seconds, const std::vector<Tone>& tones,
                      float noise, uint32_t seed);

// Frames [start, start + frames), fewer at the end. Both readers fail the test on a read error.
Signal readRange(AudioFileReader& reader, int64_t start, uint32_t frames);
// The whole file from frame 0, in chunks of `chunkFrames`.
Signal readSequential(AudioFileReader& reader, uint32_t chunkFrames = 10007);

// Which backend opens the file: the registry (libsndfile, then FFmpeg) or FFmpeg alone.
enum class Backend { registry, ffmpeg };
Result<std::unique_ptr<AudioFileReader>> openWith(Backend backend, const std::filesystem::path& path);

// Normalised cross-correlation on one channel of source frame i with decoded frame i + lag.
double correlation(const Signal& source, const Signal& decoded, int channel, int lag);
double rmsDb(const Signal& signal, int channel);
// The lag (0..maxLag) at which `decoded` best matches `source` on channel 0.
int bestLag(const Signal& source, const Signal& decoded, int maxLag);

// Runs "ffmpeg -nostdin -v error <arguments>"; true when it succeeded.
bool ffmpeg(const std::string& arguments);
inline int64_t ffprobePacketCount(const std::filesystem::path& path) {
    return std::atoll(ffprobeStreamField(path, "nb_read_packets", "-count_packets").c_str());
}

// Runs `check` in a child that cannot read other users' files (as root it drops to uid and gid
// 65534) and returns check's value; 200 when dropping privileges failed, 201 when the child died.
int runUnprivileged(const std::function<int()>& check);

// A scratch folder the child of runUnprivileged() can reach, so that what it is refused there is
// the files' own permissions: under the test temporary root when possible (the checkout may lie in
// a private home folder), else under /tmp or /var/tmp. Null, with the reason in `why`, otherwise.
std::unique_ptr<ScratchFolder> scratchFolderOthersCanReach(std::string* why);

}  // namespace korvanta::test
