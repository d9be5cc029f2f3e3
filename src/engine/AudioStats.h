// The three figures every loudness display and decision uses, and the two standard figures
// shown beside them for delivery (measured on the same samples, never used in a decision).
// measureLoudness() gives the first three; analyzeAudioFile() and the accepted pass of a master
// add the other two (addDeliveryFigures()), which stay 0 where nobody asked for them.
#pragma once

namespace korvanta {

struct AudioStats {
    float lufs = 0.0f;  // integrated loudness, LUFS (with the engine's −0.5 LU offset)
    float peak = 0.0f;  // sample peak, dBFS
    float rms = 0.0f;   // RMS of the loudest 5 % of 100 ms windows, dBFS (+0.4 dB)
    float truePeak = 0.0f;  // BS.1770-4 true peak, dBTP
    float lufsR128 = 0.0f;  // BS.1770-4 / R128 integrated loudness, no offset; −inf when gated out
    friend bool operator==(const AudioStats&, const AudioStats&) = default;
};

}  // namespace korvanta
