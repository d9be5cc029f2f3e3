// The three figures every loudness display and decision uses.
#pragma once

namespace korvanta {

struct AudioStats {
    float lufs = 0.0f;  // integrated loudness, LUFS (with the engine's −0.5 LU offset)
    float peak = 0.0f;  // sample peak, dBFS
    float rms = 0.0f;   // RMS of the loudest 5 % of 100 ms windows, dBFS (+0.4 dB)
    friend bool operator==(const AudioStats&, const AudioStats&) = default;
};

}  // namespace korvanta
