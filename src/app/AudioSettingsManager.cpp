#include "app/AudioSettingsManager.h"

namespace korvanta {

AudioSettingsManager::AudioSettingsManager(Preferences& store, QObject* parent)
    : QObject(parent), store_(store), settings_(loadAudioSettings(store)) {}

void AudioSettingsManager::setTargetLoudness(float value) {
    if (value == settings_.targetLoudness) return;
    settings_.targetLoudness = value;
    emit targetLoudnessChanged();
}

void AudioSettingsManager::setLimitThreshold(float value) {
    if (value == settings_.limitThreshold) return;
    settings_.limitThreshold = value;
    emit limitThresholdChanged();
}

void AudioSettingsManager::setHighQualityMode(bool value) {
    if (value == settings_.highQualityMode) return;
    settings_.highQualityMode = value;
    emit highQualityModeChanged();
}

void AudioSettingsManager::saveSettings(const QString& exportFormat, const QString& selectedPreset) {
    std::optional<std::string> preset;
    if (!selectedPreset.isEmpty()) preset = selectedPreset.toStdString();
    saveAudioSettings(store_, settings_, exportFormat.toStdString(), preset);
}

float AudioSettingsManager::presetTargetLUFS() const { return korvanta::presetTargetLUFS(store_); }

void AudioSettingsManager::resetPreferences() { korvanta::resetPreferences(store_); }

}  // namespace korvanta
