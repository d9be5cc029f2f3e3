// The loudness settings the settings window edits and a batch start reads.
#pragma once

#include <QObject>
#include <QString>

#include "app/AudioSettings.h"

namespace korvanta {

// Main thread only.
class AudioSettingsManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(float targetLoudness READ targetLoudness WRITE setTargetLoudness NOTIFY targetLoudnessChanged)
    Q_PROPERTY(float limitThreshold READ limitThreshold WRITE setLimitThreshold NOTIFY limitThresholdChanged)
    Q_PROPERTY(bool highQualityMode READ highQualityMode WRITE setHighQualityMode NOTIFY highQualityModeChanged)

public:
    // Stores the defaults of absent keys, then reads the three settings from `store`.
    explicit AudioSettingsManager(Preferences& store = sharedPreferences(), QObject* parent = nullptr);

    float targetLoudness() const { return settings_.targetLoudness; }
    float limitThreshold() const { return settings_.limitThreshold; }
    bool highQualityMode() const { return settings_.highQualityMode; }
    void setTargetLoudness(float value);
    void setLimitThreshold(float value);
    void setHighQualityMode(bool value);

    // Writes the settings to the store (see saveAudioSettings); an empty preset name stores none.
    Q_INVOKABLE void saveSettings(const QString& exportFormat, const QString& selectedPreset = {});
    Q_INVOKABLE float presetTargetLUFS() const;
    Q_INVOKABLE void resetPreferences();

signals:
    void targetLoudnessChanged();
    void limitThresholdChanged();
    void highQualityModeChanged();

private:
    Preferences& store_;
    AudioSettings settings_;
};

}  // namespace korvanta
