// The equaliser engine: applies EQSettings to audio, buffer by buffer with seamless filter
// histories, or to a whole file.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <mutex>

#include "engine/Biquad.h"
#include "eq/EQSettings.h"
#include "platform/Error.h"
#include "platform/PcmBuffer.h"

namespace korvanta {

class ProgressUpdater;

class AudioEngine {
public:
    // Band positions that have filter histories; bands at later positions are never filtered.
    static constexpr int kBandSlots = 27;

    // The process-wide engine shared by the pipeline's final renderings, the preview player and
    // the vectorscope. Created on first use, never destroyed; safe to call from any thread.
    static AudioEngine& shared();

    // A separate engine with zeroed histories (the shared one serves the application).
    AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Zeroes every filter history. Any thread; runs under the reset queue, then the state lock,
    // and returns when done. Must not be called while holding the state lock (nothing outside
    // this class can).
    void resetFilterStates();

    // Runs `input` through the chain: stereo widening (2 channels, enabled and width > 1.0), the
    // bands (a band is active when |gain| > 0.1 dB; positions ≥ 27 never filtered), mid
    // enhancement (enabled and |midAmount − 1| > 0.01), master gain (|masterGain| > 0.01 dB),
    // and the soft clipper when `softClip` is true.
    // Returns `input` itself, untouched, when settings.isEnabled is false, when nothing of the
    // above is active and `softClip` is false, when the input is null or has no channels, or when
    // no output buffer can be made; otherwise a new buffer of the same format, capacity and frame
    // length holding the processed audio. Never fails.
    // Band histories: channel 0 uses slot 0 of each band position, every other channel slot 1, one
    // channel after another; with `keepState` they carry on from the previous call, so
    // consecutive buffers of one stream are filtered without seams; without it every history is
    // reset first. The widening filter starts from zero in every call. The histories are shared
    // by every caller of this engine: a reset or a keepState-false call from one stream zeroes
    // them for all. Any thread; the band loop holds the state lock, so calls never interleave on
    // the histories.
    std::shared_ptr<PcmBuffer> processAudioBuffer(std::shared_ptr<PcmBuffer> input,
                                                  const EQSettings& settings, bool keepState,
                                                  bool softClip);

    // Renders `input` through processAudioBuffer (keepState, no soft clip) into a new 32-bit float
    // WAV at `output` with the input's rate and channel count. Resets the histories first, then
    // works in chunks of 32,768 frames, reporting (position / length) · 0.95 to `progress` (may be
    // null) after each chunk; a file of 0 frames gives an empty WAV and no report. The output
    // must not exist (callers remove old renderings first).
    // Errors: opening or reading the input, creating or writing the output (passed on unchanged;
    // a partly written output stays); "AudioEngine" 1 (no message) when a chunk buffer cannot be
    // made. Runs on the caller's thread.
    Status processAudioFile(const std::filesystem::path& input, const std::filesystem::path& output,
                            const EQSettings& settings, ProgressUpdater* progress);

    static constexpr uint32_t kFileChunkFrames = 32768;

private:
    using BandStates = std::array<FilterState, 2>;  // slot 0: channel 0; slot 1: all others

    void filterBands(PcmBuffer& buffer, const EQSettings& settings, bool keepState);

    // Lock order: lockQueue_ before filterStateLock_. The band loop takes only filterStateLock_
    // and dispatches its reset before taking it.
    std::mutex lockQueue_;        // serialises resets, as a serial queue run synchronously would
    std::mutex filterStateLock_;  // guards filterStates_
    std::array<BandStates, kBandSlots> filterStates_{};
};

}  // namespace korvanta
