// The mastering renderer: one pass of gain, tempo-timed peak limiter and soft clipper over a whole
// song into a 16- or 24-bit WAV file.
#pragma once

#include <filesystem>
#include <functional>

#include "platform/AudioFileReader.h"
#include "platform/Error.h"
#include "platform/Preferences.h"

namespace korvanta {

// Receives the pass's progress, 0 … 1, on the thread running the pass.
using MasteringProgress = std::function<void(double)>;
// Asked before every chunk, on the thread running the pass; true cancels the pass.
using MasteringCancelled = std::function<bool()>;
// Receives every chunk once it is written: its samples as floats before quantisation, the frame
// it starts at, and the file's bit depth (16 or 24). Called on the pass's writer thread, in order;
// every call has returned before the pass returns.
using MasteringChunkWritten =
    std::function<void(const PcmBuffer& chunk, int64_t firstFrame, int bitsPerSample)>;

// Renders `input` into a new WAV file at `output` (see PeakLimiter.h for the per-sample
// procedure):
// - every channel gets `gain` (a linear factor; NaN renders silence, and a gain so large that
//   the product overflows is limited like any very loud signal), then the peak limiter with
//   ceiling 10^(limitThreshold / 20) timed from `bpm` (0 or below: no tempo), then the soft
//   clipper chosen by `targetLUFS` (LUFS); each channel keeps its own limiter state across the
//   whole pass;
// - the file has the input's rate and channel count, 24-bit integer samples when the preference
//   "highQualityMode" (read once, when the file is created; absent = false) is true, 16-bit
//   otherwise; the output's folder is created when missing and an existing file at `output` is
//   removed first;
// - the song is read in chunks of 2 s of audio when the machine has more than 8 GB of memory,
//   else 1 s. Before every chunk `isCancelled` (may be empty) is asked;
// - `progress` (may be empty) receives 0 first, then position / length whenever that has grown by
//   at least 0.01 since the last report, then 1.0 when the pass succeeds.
// A chunk that fails to read is replaced by up to 0.1 s of silence (min(chunk frames, 0.1 s)),
// which runs through the limiter and is written like audio, so the rendering keeps the song's
// length and timing; the pass then goes on after it. A read that yields nothing without an error
// is treated the same way. Read failures never fail the pass.
// Errors:
// - "KorvantaApp" 2 "Could not create audio buffer" when the chunk buffers cannot be made;
// - "KorvantaApp" 100 "The process was canceled by the user" when `isCancelled` returns true; the
//   chunks written so far stay in the output file;
// - opening the input, creating the folder, removing the old output, creating or writing the
//   output: the error of that operation, passed on; a partly written output stays.
// Runs on the caller's thread, which reads the song and limits the first half of its channels;
// the other half is limited on a helper thread and the chunks are written on another, up to three
// chunks in flight. Channels are independent, so the file is the same whatever the timing. The
// callbacks are called on the caller's thread only; progress counts chunks once written. Uses no
// shared state besides the preferences store; any number of passes may run at once.
Status renderMasteringPass(const std::filesystem::path& input, const std::filesystem::path& output,
                           float targetLUFS, float limitThreshold, float gain, int bpm,
                           const MasteringProgress& progress, const MasteringCancelled& isCancelled,
                           Preferences& preferences = sharedPreferences());

// The same pass over an input the caller has opened; reading starts at frame 0 whatever the
// reader's position. The reader belongs to the pass until it returns.
Status renderMasteringPass(AudioFileReader& input, const std::filesystem::path& output,
                           float targetLUFS, float limitThreshold, float gain, int bpm,
                           const MasteringProgress& progress, const MasteringCancelled& isCancelled,
                           Preferences& preferences = sharedPreferences(),
                           const MasteringChunkWritten& onChunkWritten = {});

}  // namespace korvanta
