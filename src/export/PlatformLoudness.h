// What the streaming services' loudness normalisation does to a song: the one table of their
// reference levels and rules, and the gain each applies.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace korvanta {

// How a service treats a song quieter than its reference level.
enum class QuietSongRule {
    turnedDownOnly,       // louder songs are turned down; quieter ones are left as they are
    upToTruePeakCeiling,  // quieter songs are turned up, but never past `upGainCeilingDbtp` true peak
};

struct PlatformLoudness {
    const char* key;    // stable identifier for reports: "spotify", "apple_music", …
    const char* name;   // "Spotify", "Apple Music", …
    float referenceLufs;  // integrated loudness (BS.1770 / R128) the service plays songs at
    QuietSongRule quietSongs;
    float upGainCeilingDbtp;  // for upToTruePeakCeiling: the true peak the turned-up song may reach
    const char* source;       // where the figures come from
};

// Spotify (default "Normal" setting), YouTube, Tidal, Amazon Music, Apple Music, Deezer.
const std::vector<PlatformLoudness>& platformLoudnessTable();

// The playback gain `platform` applies to a song of `integratedLufs` (LUFS (R128)) and
// `truePeakDb` (dBTP), in dB: negative turns it down. Nothing for a song without a measurable
// loudness (−inf or NaN). A quiet song under upToTruePeakCeiling rises by the smaller of the
// loudness gap and the headroom to the ceiling (never below 0).
std::optional<double> platformGainDb(const PlatformLoudness& platform, double integratedLufs,
                                     double truePeakDb);

// One service's gain for a song.
struct PlatformPenalty {
    const PlatformLoudness* platform = nullptr;
    std::optional<double> gainDb;
};
std::vector<PlatformPenalty> platformPenalties(double integratedLufs, double truePeakDb);

// "Spotify −4.2 · YouTube −4.2 · …" with one decimal; "—" for a service without a figure.
std::string penaltySummary(const std::vector<PlatformPenalty>& penalties);

}  // namespace korvanta
