// The measurement behind analyzeAudioFile(), on samples already in memory.
#pragma once

#include <cstdint>

#include "engine/AudioStats.h"

namespace korvanta {

// Measures `frameCount` frames of de-interleaved samples (`channels[c]`, full scale ±1.0).
// `sampleRate` is in Hz, in single precision as the measurement uses it: it sets the 100 ms RMS
// windows (Int(sampleRate · 0.1) frames, hop Int(sampleRate · 0.05)) and the 400 ms loudness
// blocks (Int(sampleRate · 0.4) frames every Int(sampleRate · 0.1)); the K-weighting filter is the
// fixed 48 kHz design at every rate. Channels from index 2 up weigh 1.41, the first two 1.0.
//
// Never fails. Silence, no frames or no channels give about −449.7 LUFS, −897.1 dB peak and
// −896.7 dB RMS. A rate below 20 Hz leaves the RMS series empty (no hop), below 10 Hz the block
// list too. Non-finite samples make the figures they reach meaningless (NaN, or blocks dropped by
// the gates) but are otherwise harmless. Pure function of its arguments: safe to call from any
// number of threads at once.
AudioStats measureLoudness(const float* const* channels, int channelCount, uint32_t frameCount,
                           float sampleRate);

}  // namespace korvanta
