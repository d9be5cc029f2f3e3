#include "app/AudioSettings.h"

#include "platform/PreferenceKeys.h"
#include "mastering/MasteringSettings.h"

namespace korvanta {

AudioSettings loadAudioSettings(Preferences& store) {
    const AudioSettings defaults;
    if (!store.contains(keys::kTargetLoudness)) store.setFloat(keys::kTargetLoudness, defaults.targetLoudness);
    if (!store.contains(keys::kLimitThreshold)) store.setFloat(keys::kLimitThreshold, defaults.limitThreshold);
    if (!store.contains(keys::kHighQualityMode)) store.setBool(keys::kHighQualityMode, defaults.highQualityMode);
    // A value that cannot be read as its type (a damaged or hand-edited store) reads as the
    // default too, never as 0 LUFS.
    AudioSettings settings;
    settings.targetLoudness = store.floatValue(keys::kTargetLoudness).value_or(defaults.targetLoudness);
    settings.limitThreshold = store.floatValue(keys::kLimitThreshold).value_or(defaults.limitThreshold);
    settings.highQualityMode = store.boolValue(keys::kHighQualityMode).value_or(defaults.highQualityMode);
    return settings;
}

void saveAudioSettings(Preferences& store, const AudioSettings& settings,
                       const std::string& exportFormat,
                       const std::optional<std::string>& selectedPreset) {
    store.setFloat(keys::kTargetLoudness, settings.targetLoudness);
    store.setFloat(keys::kLimitThreshold, settings.limitThreshold);
    store.setBool(keys::kHighQualityMode, exportFormat == "M4A" ? false : settings.highQualityMode);
    if (selectedPreset) store.setString(keys::kLastUsedPreset, *selectedPreset);
}

float presetTargetLUFS(const Preferences& store) {
    if (auto name = store.stringValue(keys::kLastUsedPreset)) {
        if (auto preset = presetNamed(*name)) return preset->settings.targetLUFS;
    }
    return store.floatValue(keys::kTargetLoudness).value_or(0.0f);
}

void resetPreferences(Preferences& store) {
    for (const char* key :
         {keys::kExportFormat, keys::kNormalizationMode, keys::kGlobalArtworkEnabled,
          keys::kGlobalArtworkData, keys::kEQSettings, keys::kActiveEQSettings,
          keys::kShowVectorscope, keys::kProcessedWithOriginalEQ, keys::kStereoEnhancement,
          keys::kStereoWidth, keys::kLastUsedPreset, keys::kMatchLevelEnabled}) {
        store.remove(key);
    }
}

}  // namespace korvanta
