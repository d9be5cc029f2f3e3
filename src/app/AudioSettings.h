// The loudness settings as stored, the preferences reset, and the preset target resolution.
#pragma once

#include <optional>
#include <string>

#include "platform/Preferences.h"

namespace korvanta {

struct AudioSettings {
    float targetLoudness = -10.0f;  // LUFS
    float limitThreshold = -0.2f;   // dB
    bool highQualityMode = false;   // 24-bit masters when true
};

// Stores the defaults (−10.0, −0.2, false) under the keys that are absent, then reads all three;
// a value that cannot be read as its type gives the default (and stays in the store).
AudioSettings loadAudioSettings(Preferences& store);

// Stores target and threshold; "highQualityMode" as false when `exportFormat` is "M4A", else as
// given; and `selectedPreset` under "lastUsedPreset" when given.
void saveAudioSettings(Preferences& store, const AudioSettings& settings,
                       const std::string& exportFormat,
                       const std::optional<std::string>& selectedPreset);

// The target of the preset named by "lastUsedPreset" when it names one of the four presets;
// otherwise the float under "targetLoudness" (0 when absent).
float presetTargetLUFS(const Preferences& store);

// Removes the user's choices (export format, artwork, equaliser, vectorscope, last preset and a
// few retired keys); keeps the loudness settings, theme, window positions and the reference.
void resetPreferences(Preferences& store);

}  // namespace korvanta
