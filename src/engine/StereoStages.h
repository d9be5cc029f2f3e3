// The level and stereo stages of the equaliser's per-buffer chain. Each works in place on the
// buffer's first frameLength frames, never allocates and never fails; each runs on the thread of
// its caller and keeps no state between calls.
#pragma once

#include "platform/PcmBuffer.h"

namespace korvanta {

// Stereo widening with the bass kept centred, for 2-channel buffers only (others are left
// untouched). The side signal (L − R) / 2 goes through a 500 Hz, Q 0.707 second-order high-pass
// whose history starts at zero in every call, is multiplied by `width` and added back to the mid
// (L + R) / 2; a frame whose larger magnitude then exceeds 0.9 is scaled down to 0.9. So the side
// below 500 Hz is removed and the side above it scaled. `sampleRate` in Hz.
void applyStereoWidth(PcmBuffer& buffer, float sampleRate, float width);

// Scales the mid (L + R) / 2 by `midAmount` and keeps the side, for 2-channel buffers only.
void applyMidEnhancement(PcmBuffer& buffer, float midAmount);

// Multiplies every sample of every channel by 10^(gainDb / 20).
void applyMasterGain(PcmBuffer& buffer, float gainDb);

// Gentle clipper above ±0.95: x > 0.95 becomes 0.95 + 0.05 · tanh(3 · (x − 0.95)), mirrored for
// x < −0.95; everything in between is unchanged, so the output stays within ±1.
void applySoftClip(PcmBuffer& buffer);

}  // namespace korvanta
