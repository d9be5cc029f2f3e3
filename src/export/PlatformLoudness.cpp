#include "export/PlatformLoudness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korvanta {

const std::vector<PlatformLoudness>& platformLoudnessTable() {
    static const std::vector<PlatformLoudness> table = {
        // Spotify for Artists, "Loudness normalization" (support.spotify.com/artists/article/
        // loudness-normalization): tracks are adjusted to −14 dB LUFS (ITU 1770) in the default
        // "Normal" setting; softer masters get positive gain, leaving 1 dB headroom (a track at
        // −20 LUFS with a −5 dBFS true peak is lifted to −16 LUFS only).
        {"spotify", "Spotify", -14.0f, QuietSongRule::upToTruePeakCeiling, -1.0f,
         "Spotify for Artists: Loudness normalization"},
        // YouTube publishes no figure of its own; −14 LUFS, turned down only, is what
        // measurements of its video player report (productionadvice.co.uk, "YouTube Music").
        {"youtube", "YouTube", -14.0f, QuietSongRule::turnedDownOnly, 0.0f,
         "third-party measurements (no published figure)"},
        // Tidal: −14 LUFS by BS.1770-4, quieter music not raised (Tidal's answer quoted by
        // meterplugs.com, "Tidal adds loudness normalization", 2016).
        {"tidal", "Tidal", -14.0f, QuietSongRule::turnedDownOnly, 0.0f,
         "Tidal via meterplugs.com (2016)"},
        // Amazon Music publishes no figure; −14 LUFS is the level reported by third parties
        // (production-expert.com); whether quiet songs are raised is not documented, so none is.
        {"amazon_music", "Amazon Music", -14.0f, QuietSongRule::turnedDownOnly, 0.0f,
         "third-party reports (no published figure)"},
        // Apple Music Sound Check: −16 LUFS (production-expert.com, "Apple choose −16 LUFS");
        // Sound Check raises quiet songs too. The −1 dBTP ceiling on that rise is an assumption
        // (Apple documents none), taken to be the same as Spotify's.
        {"apple_music", "Apple Music", -16.0f, QuietSongRule::upToTruePeakCeiling, -1.0f,
         "third-party reports; up-gain ceiling assumed"},
        // Deezer: −15 LUFS (production-expert.com); treated as turning down only.
        {"deezer", "Deezer", -15.0f, QuietSongRule::turnedDownOnly, 0.0f,
         "third-party reports (no published figure)"},
    };
    return table;
}

std::optional<double> platformGainDb(const PlatformLoudness& platform, double integratedLufs,
                                     double truePeakDb) {
    if (!std::isfinite(integratedLufs)) return std::nullopt;
    const double gap = double(platform.referenceLufs) - integratedLufs;
    if (gap <= 0.0) return gap;
    if (platform.quietSongs == QuietSongRule::turnedDownOnly) return 0.0;
    const double headroom = std::isfinite(truePeakDb) ? double(platform.upGainCeilingDbtp) - truePeakDb : 0.0;
    return std::clamp(headroom, 0.0, gap);
}

std::vector<PlatformPenalty> platformPenalties(double integratedLufs, double truePeakDb) {
    std::vector<PlatformPenalty> penalties;
    for (const auto& platform : platformLoudnessTable()) {
        penalties.push_back({&platform, platformGainDb(platform, integratedLufs, truePeakDb)});
    }
    return penalties;
}

std::string penaltySummary(const std::vector<PlatformPenalty>& penalties) {
    std::string text;
    for (const auto& p : penalties) {
        if (!text.empty()) text += " \u00b7 ";
        text += p.platform->name;
        char figure[32];
        if (p.gainDb) {
            // A gain that rounds to zero shows as 0.0, never as −0.0.
            const double shown = std::fabs(*p.gainDb) < 0.05 ? 0.0 : *p.gainDb;
            std::snprintf(figure, sizeof figure, " %+.1f", shown);
        } else {
            std::snprintf(figure, sizeof figure, " \u2014");
        }
        text += figure;
    }
    return text;
}

}  // namespace korvanta
