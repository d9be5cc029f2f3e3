// Helpers shared by the audio file service tests: reading ranges, comparing signals, probing files
// with ffprobe, and running a check without root privileges.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/AudioFileReader.h"
#include "support/ChildProcess.h"
#include "support/TestAudio.h"

namespace korvanta::test {

// The signal with every sample rounded to the `bits`-bit integer grid (k / 2^(bits−1)), so that
// any lossless encoding at that depth reproduces it exactly.
Signal onGrid(Signal signal, int bits);

// Reads frames [start, start + frames) through `reader` after setting its position; fewer at the
// end of the file. Records a test failure on a read error.
Signal readRange(AudioFileReader& reader, int64_t start, uint32_t frames);

// Reads the whole file from frame 0 in chunks of `chunkFrames`.
Signal readSequential(AudioFileReader& reader, uint32_t chunkFrames = 10007);

// Which backend opens the file: the registry (libsndfile, then FFmpeg) or FFmpeg alone.
enum class Backend { registry, ffmpeg };
Result<std::unique_ptr<AudioFileReader>> openWith(Backend backend, const std::filesystem::path& path);

// Normalised cross-correlation of `decoded` against `source` on one channel, where frame i of the
// source is compared with frame i + lag of the decoded signal. 1.0 means identical up to scale.
double correlation(const Signal& source, const Signal& decoded, int channel, int lag);
// RMS level of one channel in dB relative to full scale.
double rmsDb(const Signal& signal, int channel);

// Frames of the lag (0..maxLag) at which `decoded` best matches `source` on channel 0.
int bestLag(const Signal& source, const Signal& decoded, int maxLag);

// Number of packets of the first audio stream, counted by ffprobe.
int64_t ffprobePacketCount(const std::filesystem::path& path);
// One field of the first audio stream as ffprobe prints it ("codec_name", "bits_per_raw_sample").
std::string ffprobeStreamField(const std::filesystem::path& path, const std::string& field);

// Writes `bytes` into a new file.
void writeBytes(const std::filesystem::path& path, const std::string& bytes);
std::string readBytes(const std::filesystem::path& path);

// Runs `check` in a child process that cannot read other users' files: when the tests run as root
// the child first drops to uid and gid 65534. Returns the child's exit status (check's return
// value), 200 when dropping privileges failed, 201 when the child died.
int runUnprivileged(const std::function<int()>& check);

// A scratch folder the child of runUnprivileged() can reach, so that what it is refused there is
// the files' own permissions and not a folder on the way: under the test temporary root when the
// child can pass through it (the checkout may lie in a private home folder), else under the
// system's /tmp or /var/tmp. Null, with what was tried in `why`, when the child reaches none.
std::unique_ptr<ScratchFolder> scratchFolderOthersCanReach(std::string* why);

}  // namespace korvanta::test
