// What the equaliser panel decides: which band a drag picks and the gain it sets, the texts of
// bands, master gain and knobs, the AUTO readout and its automatic gain, RESET, the REMASTER pulse
// and "REF APPLY". The QML of the panel forwards pointer positions here and shows the results.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

#include <optional>
#include <vector>

#include "app/EQManager.h"
#include "eq/EQSettings.h"
#include "playback/AudioPlayerManager.h"
#include "reference/ReferenceTrackManager.h"

namespace korvanta {

// Rough loudness change of a record in LU, for the AUTO readout (bands over ±0.1 dB weighted by
// frequency and Q, plus widening and mid enhancement); 0 when nothing is changed.
float displayLevelEstimate(const EQSettings& settings);
// Rough peak change of a record in dB, for the automatic gain.
float gainLevelEstimate(const EQSettings& settings);
// The automatic master gain: the loudness moved to `targetLUFS` with the estimated peak never above
// −0.2 dBFS (and always brought down to it), clamped to ±10 dB.
float automaticMasterGain(const EQSettings& settings, float filePeak, float fileLUFS, float targetLUFS);

// Main thread only.
class EqualizerModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(EQManager* manager READ manager WRITE setManager NOTIFY managerChanged)
    Q_PROPERTY(AudioPlayerManager* player READ player WRITE setPlayer NOTIFY playerChanged)
    Q_PROPERTY(ReferenceTrackManager* reference READ reference WRITE setReference NOTIFY referenceChanged)
    // The loudness target of the last used preset (from the store unless set).
    Q_PROPERTY(float presetTargetLUFS READ presetTargetLUFS WRITE setPresetTargetLUFS NOTIFY readoutChanged)
    Q_PROPERTY(int bandCount READ bandCount NOTIFY settingsChanged)
    Q_PROPERTY(QVariantList tempBandValues READ tempBandValues NOTIFY tempBandValuesChanged)
    Q_PROPERTY(QVariantList bandFrequencies READ bandFrequencies NOTIFY settingsChanged)
    Q_PROPERTY(QVariantList bandQs READ bandQs NOTIFY settingsChanged)
    Q_PROPERTY(bool isDragging READ isDragging NOTIFY dragChanged)
    Q_PROPERTY(int draggedBandIndex READ draggedBandIndex NOTIFY dragChanged)  // −1: none
    Q_PROPERTY(bool isDraggingGain READ isDraggingGain NOTIFY dragChanged)
    Q_PROPERTY(float masterGain READ masterGain NOTIFY settingsChanged)
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY settingsChanged)
    Q_PROPERTY(bool stereoEnabled READ stereoEnabled NOTIFY settingsChanged)
    Q_PROPERTY(float stereoWidth READ stereoWidth NOTIFY settingsChanged)
    Q_PROPERTY(bool midEnabled READ midEnabled NOTIFY settingsChanged)
    Q_PROPERTY(float midAmount READ midAmount NOTIFY settingsChanged)
    Q_PROPERTY(QString autoText READ autoText NOTIFY readoutChanged)
    // −1 while the readout is neutral ("0.0dB", "OK"); else 0 … 3 by |difference|: < 0.5, < 2, < 4, ≥ 4.
    Q_PROPERTY(int autoTier READ autoTier NOTIFY readoutChanged)
    Q_PROPERTY(bool shouldPulseRemaster READ shouldPulseRemaster NOTIFY pulseChanged)
    Q_PROPERTY(int pulseCount READ pulseCount WRITE setPulseCount NOTIFY pulseChanged)
    Q_PROPERTY(bool hasReference READ hasReference NOTIFY referenceStateChanged)
    Q_PROPERTY(QString referenceText READ referenceText NOTIFY referenceStateChanged)
    Q_PROPERTY(bool isAutoReferenceMode READ isAutoReferenceMode NOTIFY referenceStateChanged)
    Q_PROPERTY(bool uiUpdateTrigger READ uiUpdateTrigger NOTIFY uiUpdateTriggerChanged)

public:
    static constexpr float kGainRange = 10.0f;
    static constexpr float kKnobStep = 0.005f;  // value per point of upward drag

    explicit EqualizerModel(QObject* parent = nullptr);

    // --- Rules of the controls (no state) -------------------------------------------------------
    // x / (width / (count − 1)) rounded half away from zero, clamped to the bands.
    Q_INVOKABLE static int bandIndexAt(double x, double width, int count);
    // (height/2 − y) / (height/2) × 10, clamped to ±10.
    Q_INVOKABLE static double gainForY(double y, double height);
    // (1 − y / height) × 20 − 10, clamped to ±10.
    Q_INVOKABLE static double masterGainForY(double y, double height);
    // "32", "1k", "6.3k", "12k", "1.5k".
    Q_INVOKABLE static QString frequencyLabel(double frequency);
    // "+3.5dB", "-2.0dB".
    Q_INVOKABLE static QString bandGainText(double gain);
    // "+0.0 dB".
    Q_INVOKABLE static QString masterGainText(double gain);
    // The knob's value as a percentage of its range: 1.0 → "0%", 1.5 → "50%".
    Q_INVOKABLE static QString knobText(double value);
    // dragStartValue + (dragStartY − y) × 0.005, clamped to 1 … 2.
    Q_INVOKABLE static double knobValueFor(double startValue, double startY, double y);

    // --- Wiring ---------------------------------------------------------------------------------
    EQManager* manager() const { return manager_; }
    void setManager(EQManager* manager);
    AudioPlayerManager* player() const { return player_; }
    void setPlayer(AudioPlayerManager* player);
    // The reference manager shown: the one set, else the manager's.
    ReferenceTrackManager* reference() const;
    void setReference(ReferenceTrackManager* reference);
    float presetTargetLUFS() const;
    void setPresetTargetLUFS(float lufs);

    // --- State ----------------------------------------------------------------------------------
    int bandCount() const { return int(settings().bands.size()); }
    QVariantList tempBandValues() const;
    QVariantList bandFrequencies() const;
    QVariantList bandQs() const;
    bool isDragging() const { return isDragging_; }
    int draggedBandIndex() const { return draggedBandIndex_.value_or(-1); }
    bool isDraggingGain() const { return isDraggingGain_; }
    float masterGain() const { return settings().masterGain; }
    bool isEnabled() const { return settings().isEnabled; }
    bool stereoEnabled() const { return settings().stereoEnhancementEnabled; }
    float stereoWidth() const { return settings().stereoWidth; }
    bool midEnabled() const { return settings().midEnhancementEnabled; }
    float midAmount() const { return settings().midAmount; }
    QString autoText() const;
    int autoTier() const;
    bool shouldPulseRemaster() const { return shouldPulseRemaster_; }
    int pulseCount() const { return pulseCount_; }
    void setPulseCount(int count);
    bool hasReference() const;
    QString referenceText() const { return hasReference() ? QStringLiteral("REF APPLY") : QStringLiteral("NO REF"); }
    bool isAutoReferenceMode() const { return manager_ && manager_->isAutoReferenceMode(); }
    bool uiUpdateTrigger() const { return uiUpdateTrigger_; }
    // The record shown (the manager's, or the default one without a manager).
    const EQSettings& settings() const;
    // The record with the gains shown while dragging.
    EQSettings previewSettings() const;

    // --- What the controls do ---------------------------------------------------------------------
    // A pointer position on the band graph; positions outside it are ignored (false).
    Q_INVOKABLE bool dragBand(double x, double y, double width, double height);
    // The band drag ends: the gains are written, stored and the REMASTER control pulses.
    Q_INVOKABLE void endBandDrag();
    Q_INVOKABLE void dragMasterGain(double y, double height);
    Q_INVOKABLE void endMasterGainDrag();
    // Pressing the AUTO readout.
    Q_INVOKABLE void applyAutoGain();
    Q_INVOKABLE void reset();
    Q_INVOKABLE void remaster();
    Q_INVOKABLE void applyReference();
    // Knobs: `which` is "stereo" or "mid". Drags work only while the knob is enabled.
    Q_INVOKABLE void dragKnob(const QString& which, double y);
    Q_INVOKABLE void endKnobDrag(const QString& which);
    Q_INVOKABLE void tapKnob(const QString& which);
    Q_INVOKABLE bool isDraggingKnob(const QString& which) const;
    // Starts the REMASTER pulse (0.5 s).
    Q_INVOKABLE void pulseRemaster();

signals:
    void managerChanged();
    void playerChanged();
    void referenceChanged();
    void settingsChanged();
    void tempBandValuesChanged();
    void dragChanged();
    void readoutChanged();
    void pulseChanged();
    void referenceStateChanged();
    void uiUpdateTriggerChanged();

private:
    struct KnobDrag {
        bool isDragging = false;
        double startY = 0.0;
        double startValue = 1.0;
    };
    void managerSettingsChanged();
    void refreshTempValues();
    void write(const EQSettings& settings);
    void toggleUiUpdate();
    void followReference();
    KnobDrag& knob(const QString& which);

    QPointer<EQManager> manager_;
    QPointer<AudioPlayerManager> player_;
    QPointer<ReferenceTrackManager> reference_;   // set from outside (may be null)
    QPointer<ReferenceTrackManager> followed_;    // the one whose changes are observed
    std::optional<float> presetTargetLUFS_;
    std::vector<float> tempBandValues_;
    bool isDragging_ = false;
    std::optional<int> draggedBandIndex_;
    bool isDraggingGain_ = false;
    float tempMasterGain_ = 0.0f;
    bool shouldPulseRemaster_ = false;
    int pulseCount_ = 0;
    int pulseSerial_ = 0;
    bool uiUpdateTrigger_ = false;
    KnobDrag stereoKnob_;
    KnobDrag midKnob_;
    EQSettings fallback_;
};

}  // namespace korvanta
