// Every key of the user's preferences store, by its stored name.
#pragma once

namespace korvanta::keys {

inline constexpr const char* kTargetLoudness = "targetLoudness";            // float, LUFS
inline constexpr const char* kLimitThreshold = "limitThreshold";            // float, dB
inline constexpr const char* kHighQualityMode = "highQualityMode";          // bool
inline constexpr const char* kLastUsedPreset = "lastUsedPreset";            // string
inline constexpr const char* kExportFormat = "exportFormat";                // "WAV" | "M4A"
inline constexpr const char* kGlobalArtworkEnabled = "globalArtworkEnabled";  // bool
inline constexpr const char* kGlobalArtworkData = "globalArtworkData";      // image file bytes
inline constexpr const char* kShowVectorscope = "showVectorscope";          // bool
inline constexpr const char* kMatchLevelEnabled = "matchLevelEnabled";      // bool, results A/B at equal loudness
inline constexpr const char* kEQSettings = "EQSettings";                    // JSON bytes
inline constexpr const char* kActiveEQSettings = "ActiveEQSettings";        // JSON bytes
inline constexpr const char* kProcessedWithOriginalEQ = "processedWithOriginalEQ";  // bool
inline constexpr const char* kSelectedThemeId = "selectedThemeId";          // string
inline constexpr const char* kSettingsWindowPosition = "SettingsWindowPosition";
inline constexpr const char* kEqPositionX = "eqPositionX";
inline constexpr const char* kEqPositionY = "eqPositionY";
inline constexpr const char* kEqWidth = "eqWidth";
inline constexpr const char* kEqHeight = "eqHeight";
inline constexpr const char* kVectorscopeWindow = "vectorscopeWindow";
inline constexpr const char* kReferenceTrackWindowPosition = "ReferenceTrackWindowPosition";
inline constexpr const char* kReferenceSpectralProfile = "Korvanta_ReferenceSpectralProfile";
// Kept only so that a reset removes them.
inline constexpr const char* kNormalizationMode = "normalizationMode";
inline constexpr const char* kStereoEnhancement = "stereoEnhancement";
inline constexpr const char* kStereoWidth = "stereoWidth";

}  // namespace korvanta::keys
