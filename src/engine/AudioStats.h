// The three figures every loudness display and decision uses, and the two standard figures
// shown beside them for delivery (never used in a decision). measureLoudness() gives the first
// three, from the song's central window; the delivery figures are of the whole song and are
// added where the whole song passes by anyway (a master, a rendering, a full analysis). Until
// then they are NaN: not measured.
#pragma once

#include <cmath>
#include <limits>

namespace korvanta {

struct AudioStats {
    float lufs = 0.0f;  // integrated loudness, LUFS (with the engine's −0.5 LU offset)
    float peak = 0.0f;  // sample peak, dBFS
    float rms = 0.0f;   // RMS of the loudest 5 % of 100 ms windows, dBFS (+0.4 dB)
    float truePeak = std::numeric_limits<float>::quiet_NaN();  // BS.1770-4 true peak, dBTP
    float lufsR128 = std::numeric_limits<float>::quiet_NaN();  // BS.1770-4 / R128, no offset; −inf when gated out

    bool hasDeliveryFigures() const { return !std::isnan(truePeak) && !std::isnan(lufsR128); }

    // Figures compare as values; two unmeasured delivery figures are equal.
    friend bool operator==(const AudioStats& a, const AudioStats& b) {
        const auto same = [](float x, float y) { return x == y || (std::isnan(x) && std::isnan(y)); };
        return same(a.lufs, b.lufs) && same(a.peak, b.peak) && same(a.rms, b.rms) &&
               same(a.truePeak, b.truePeak) && same(a.lufsR128, b.lufsR128);
    }
};

}  // namespace korvanta
