#include "ui/eq/EqualizerModel.h"

#include <algorithm>
#include <cmath>

#include "app/AudioSettings.h"
#include "platform/DelayScheduler.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"

namespace korvanta {

namespace {

float clampGain(double gain) { return float(std::clamp(gain, -10.0, 10.0)); }

bool activeStereo(const EQSettings& s) {
    return s.stereoEnhancementEnabled && std::fabs(s.stereoWidth - 1.0f) > 0.01f;
}
bool activeMid(const EQSettings& s) { return s.midEnhancementEnabled && std::fabs(s.midAmount - 1.0f) > 0.01f; }

// A band, widening or mid change that the readout counts.
bool hasActiveChange(const EQSettings& s) {
    return std::any_of(s.bands.begin(), s.bands.end(), [](const EQBand& b) { return std::fabs(b.gain) > 0.1f; }) ||
           activeStereo(s) || activeMid(s);
}

float loudnessWeight(float frequency) {
    if (frequency >= 0 && frequency < 100) return 2.5f;
    if (frequency >= 100 && frequency < 300) return 2.0f;
    if (frequency >= 300 && frequency < 800) return 1.5f;
    if (frequency >= 800 && frequency < 3000) return 1.2f;
    if (frequency >= 3000 && frequency < 8000) return 1.0f;
    return 0.8f;
}

float peakWeight(float frequency) {
    if (frequency >= 0 && frequency < 100) return 0.15f;
    if (frequency >= 100 && frequency < 300) return 0.2f;
    if (frequency >= 300 && frequency < 800) return 0.25f;
    if (frequency >= 800 && frequency < 3000) return 0.35f;
    if (frequency >= 3000 && frequency < 8000) return 0.3f;
    return 0.22f;
}

QString signedText(double value, const char* unit) {
    return QString::asprintf("%s%.1f%s", value >= 0 ? "+" : "", value, unit);
}

}  // namespace

float displayLevelEstimate(const EQSettings& s) {
    if (!hasActiveChange(s)) return 0.0f;
    float sum = 0.0f;
    for (const EQBand& b : s.bands) {
        if (std::fabs(b.gain) > 0.1f) sum += (1.0f / (b.q + 1.0f)) * b.gain * loudnessWeight(b.frequency) * 0.25f;
    }
    if (s.stereoEnhancementEnabled) sum += (s.stereoWidth - 1.0f) * 0.5f;
    if (s.midEnhancementEnabled) sum += (s.midAmount - 1.0f) * 0.3f;
    return sum;
}

float gainLevelEstimate(const EQSettings& s) {
    float sum = 0.0f;
    for (const EQBand& b : s.bands) {
        if (std::fabs(b.gain) > 0.01f) sum += b.gain * peakWeight(b.frequency);
    }
    if (s.stereoEnhancementEnabled) sum += (s.stereoWidth - 1.0f) * 0.3f;
    if (s.midEnhancementEnabled) sum += (s.midAmount - 1.0f) * 0.25f;
    return sum;
}

float automaticMasterGain(const EQSettings& s, float filePeak, float fileLUFS, float targetLUFS) {
    const float e = s.isEnabled ? gainLevelEstimate(s) : 0.0f;
    const float p = filePeak + e;
    // A gain the rule itself set lands on −0.2 within rounding; that counts as at the ceiling.
    constexpr float kCeiling = -0.2f + 1e-4f;
    float g;
    if (p + s.masterGain > kCeiling) {
        g = -0.2f - p;
    } else {
        g = targetLUFS - (e + fileLUFS);
        if (p + g > -0.2f) g = -0.2f - p;
    }
    return clampGain(g);
}

EqualizerModel::EqualizerModel(QObject* parent) : QObject(parent) {
    refreshTempValues();
    NotificationCenter::shared()->addObserver(notifications::kTriggerRemasterPulse, [this] { pulseRemaster(); }, this);
}

// --- Rules ------------------------------------------------------------------------------------

int EqualizerModel::bandIndexAt(double x, double width, int count) {
    if (count <= 1 || width <= 0) return 0;
    const double spacing = width / double(count - 1);
    return std::clamp(int(std::round(x / spacing)), 0, count - 1);
}

double EqualizerModel::gainForY(double y, double height) {
    if (height <= 0) return 0.0;
    return clampGain((height / 2.0 - y) / (height / 2.0) * 10.0);
}

double EqualizerModel::masterGainForY(double y, double height) {
    if (height <= 0) return 0.0;
    return clampGain((1.0 - y / height) * 20.0 - 10.0);
}

QString EqualizerModel::frequencyLabel(double f) {
    if (f >= 1000) {
        const double k = f / 1000.0;
        if (std::fabs(k - 6.3) < 1e-9) return QStringLiteral("6.3k");
        if (k != std::floor(k)) return QString::asprintf("%.1fk", k);
        return QString::number(qlonglong(k)) + QLatin1Char('k');
    }
    if (f != std::floor(f)) return QString::asprintf("%.0f", f);
    return QString::number(qlonglong(f));
}

QString EqualizerModel::bandGainText(double gain) { return signedText(gain, "dB"); }

QString EqualizerModel::masterGainText(double gain) { return signedText(gain, " dB"); }

QString EqualizerModel::knobText(double value) {
    return QString::asprintf("%lld%%", static_cast<long long>((value - 1.0) * 100.0));
}

double EqualizerModel::knobValueFor(double startValue, double startY, double y) {
    return std::clamp(startValue + (startY - y) * double(kKnobStep), 1.0, 2.0);
}

// --- Wiring -----------------------------------------------------------------------------------

void EqualizerModel::setManager(EQManager* manager) {
    if (manager_ == manager) return;
    if (manager_) disconnect(manager_, nullptr, this, nullptr);
    manager_ = manager;
    if (manager_) {
        connect(manager_, &EQManager::eqSettingsChanged, this, &EqualizerModel::managerSettingsChanged);
        connect(manager_, &EQManager::isAutoReferenceModeChanged, this, &EqualizerModel::referenceStateChanged);
    }
    emit managerChanged();
    managerSettingsChanged();
    followReference();
    emit referenceStateChanged();
}

void EqualizerModel::setPlayer(AudioPlayerManager* player) {
    if (player_ == player) return;
    if (player_) disconnect(player_, nullptr, this, nullptr);
    player_ = player;
    if (player_) {
        connect(player_, &AudioPlayerManager::currentFileLUFSChanged, this, &EqualizerModel::readoutChanged);
        connect(player_, &AudioPlayerManager::currentFilePeakChanged, this, &EqualizerModel::readoutChanged);
    }
    emit playerChanged();
    emit readoutChanged();
}

ReferenceTrackManager* EqualizerModel::reference() const {
    if (reference_) return reference_;
    return manager_ ? manager_->reference() : nullptr;
}

void EqualizerModel::setReference(ReferenceTrackManager* reference) {
    if (reference_ == reference) return;
    reference_ = reference;
    emit referenceChanged();
    followReference();
}

void EqualizerModel::followReference() {
    ReferenceTrackManager* target = reference();
    if (followed_ == target) return;
    if (followed_) disconnect(followed_, nullptr, this, nullptr);
    followed_ = target;
    emit referenceChanged();
    if (followed_) {
        connect(followed_, &ReferenceTrackManager::currentProfileChanged, this, &EqualizerModel::referenceStateChanged);
        connect(followed_, &ReferenceTrackManager::referenceSpectrumChanged, this,
                &EqualizerModel::referenceStateChanged);
    }
    emit referenceStateChanged();
}

float EqualizerModel::presetTargetLUFS() const {
    if (presetTargetLUFS_) return *presetTargetLUFS_;
    return korvanta::presetTargetLUFS(manager_ ? manager_->store() : sharedPreferences());
}

void EqualizerModel::setPresetTargetLUFS(float lufs) {
    if (presetTargetLUFS_ == lufs) return;
    presetTargetLUFS_ = lufs;
    emit readoutChanged();
}

const EQSettings& EqualizerModel::settings() const { return manager_ ? manager_->eqSettings() : fallback_; }

void EqualizerModel::managerSettingsChanged() {
    if (!isDragging_) refreshTempValues();
    emit settingsChanged();
    emit readoutChanged();
}

void EqualizerModel::refreshTempValues() {
    std::vector<float> gains;
    for (const EQBand& b : settings().bands) gains.push_back(b.gain);
    tempMasterGain_ = settings().masterGain;
    if (gains == tempBandValues_) return;
    tempBandValues_ = std::move(gains);
    emit tempBandValuesChanged();
}

QVariantList EqualizerModel::tempBandValues() const {
    QVariantList out;
    for (float g : tempBandValues_) out.append(double(g));
    return out;
}

QVariantList EqualizerModel::bandFrequencies() const {
    QVariantList out;
    for (const EQBand& b : settings().bands) out.append(double(b.frequency));
    return out;
}

QVariantList EqualizerModel::bandQs() const {
    QVariantList out;
    for (const EQBand& b : settings().bands) out.append(double(b.q));
    return out;
}

EQSettings EqualizerModel::previewSettings() const {
    EQSettings s = settings();
    for (size_t i = 0; i < s.bands.size() && i < tempBandValues_.size(); ++i) s.bands[i].gain = tempBandValues_[i];
    return s;
}

void EqualizerModel::write(const EQSettings& s) {
    if (manager_) {
        manager_->applyPanelSettings(s);
    } else {
        fallback_ = s;
        managerSettingsChanged();
    }
}

void EqualizerModel::setPulseCount(int count) {
    if (count == pulseCount_) return;
    pulseCount_ = count;
    emit pulseChanged();
}

bool EqualizerModel::hasReference() const {
    const ReferenceTrackManager* r = reference();
    return r && r->hasReference();
}

// --- Readout ----------------------------------------------------------------------------------

QString EqualizerModel::autoText() const {
    const EQSettings& s = settings();
    if (!hasActiveChange(s) && std::fabs(s.masterGain) < 0.1f) return QStringLiteral("0.0dB");
    const float lufs = player_ ? player_->currentFileLUFS() : -14.0f;
    const float d = presetTargetLUFS() - (displayLevelEstimate(s) + lufs + s.masterGain);
    if (std::fabs(d) <= 0.1f) return QStringLiteral("OK");
    return signedText(d, "dB");
}

int EqualizerModel::autoTier() const {
    const EQSettings& s = settings();
    if (!hasActiveChange(s) && std::fabs(s.masterGain) < 0.1f) return -1;
    const float lufs = player_ ? player_->currentFileLUFS() : -14.0f;
    const float d = std::fabs(presetTargetLUFS() - (displayLevelEstimate(s) + lufs + s.masterGain));
    if (d < 0.5f) return 0;
    if (d < 2.0f) return 1;
    if (d < 4.0f) return 2;
    return 3;
}

// --- Controls ---------------------------------------------------------------------------------

bool EqualizerModel::dragBand(double x, double y, double width, double height) {
    if (x < 0 || x > width || y < 0 || y > height) return false;
    const int count = int(tempBandValues_.size());
    if (count == 0) return false;
    const int band = bandIndexAt(x, width, count);
    const bool started = !isDragging_ || draggedBandIndex_ != band;
    draggedBandIndex_ = band;
    isDragging_ = true;
    tempBandValues_[size_t(band)] = float(gainForY(y, height));
    if (started) emit dragChanged();
    emit tempBandValuesChanged();
    AudioPlayerManager* p = player_ ? player_.data() : (manager_ ? manager_->audioPlayer() : nullptr);
    if (p) p->updateEQSettings(previewSettings());
    return true;
}

void EqualizerModel::endBandDrag() {
    if (!isDragging_) return;
    const EQSettings s = previewSettings();
    isDragging_ = false;
    draggedBandIndex_.reset();
    emit dragChanged();
    if (manager_) manager_->setIsAutoReferenceMode(false);
    pulseRemaster();
    write(s);
}

void EqualizerModel::dragMasterGain(double y, double height) {
    if (!isDraggingGain_) {
        isDraggingGain_ = true;
        emit dragChanged();
    }
    EQSettings s = settings();
    s.masterGain = float(masterGainForY(y, height));
    tempMasterGain_ = s.masterGain;
    write(s);
}

void EqualizerModel::endMasterGainDrag() {
    if (!isDraggingGain_) return;
    isDraggingGain_ = false;
    emit dragChanged();
}

void EqualizerModel::toggleUiUpdate() {
    uiUpdateTrigger_ = !uiUpdateTrigger_;
    emit uiUpdateTriggerChanged();
}

void EqualizerModel::applyAutoGain() {
    const float peak = player_ ? player_->currentFilePeak() : -3.0f;
    const float lufs = player_ ? player_->currentFileLUFS() : -14.0f;
    EQSettings s = settings();
    s.masterGain = automaticMasterGain(s, peak, lufs, presetTargetLUFS());
    tempMasterGain_ = s.masterGain;
    write(s);
    if (manager_) {
        saveEQSettings(s, keys::kEQSettings, manager_->store());
        saveEQSettings(s, keys::kActiveEQSettings, manager_->store());
    }
    if (player_) player_->updateEQSettings(s);
    runAfter(0.1, this, [this] { toggleUiUpdate(); });
}

void EqualizerModel::reset() {
    EQSettings r;
    r.isEnabled = settings().isEnabled;
    write(r);
    tempBandValues_.assign(r.bands.size(), 0.0f);
    emit tempBandValuesChanged();
    tempMasterGain_ = 0.0f;
    if (manager_) manager_->setIsAutoReferenceMode(false);
    if (ReferenceTrackManager* ref = reference()) {
        const auto& original = ref->originalSpectrumValues();
        if (std::any_of(original.begin(), original.end(), [](float v) { return v != 0.0f; })) {
            ref->setMasteredSpectrum(original);
        }
    }
    if (manager_) {
        manager_->store().remove(keys::kEQSettings);
        manager_->store().remove(keys::kActiveEQSettings);
    }
    toggleUiUpdate();
    write(r);
}

void EqualizerModel::remaster() {
    if (manager_ && manager_->batchProcessor()) manager_->remasterWithEQ();
}

void EqualizerModel::applyReference() {
    if (!manager_) return;
    manager_->toggleReferenceEQ();
    refreshTempValues();
}

void EqualizerModel::pulseRemaster() {
    shouldPulseRemaster_ = true;
    emit pulseChanged();
    runAfter(0.5, this, [this] {
        shouldPulseRemaster_ = false;
        pulseCount_ = 0;
        emit pulseChanged();
    });
}

EqualizerModel::KnobDrag& EqualizerModel::knob(const QString& which) {
    return which == QLatin1String("mid") ? midKnob_ : stereoKnob_;
}

bool EqualizerModel::isDraggingKnob(const QString& which) const {
    return which == QLatin1String("mid") ? midKnob_.isDragging : stereoKnob_.isDragging;
}

void EqualizerModel::dragKnob(const QString& which, double y) {
    const bool mid = which == QLatin1String("mid");
    EQSettings s = settings();
    if (!(mid ? s.midEnhancementEnabled : s.stereoEnhancementEnabled)) return;
    KnobDrag& k = knob(which);
    if (!k.isDragging) {
        k.isDragging = true;
        k.startY = y;
        k.startValue = mid ? s.midAmount : s.stereoWidth;
    }
    const float value = float(knobValueFor(k.startValue, k.startY, y));
    (mid ? s.midAmount : s.stereoWidth) = value;
    write(s);
}

void EqualizerModel::endKnobDrag(const QString& which) { knob(which).isDragging = false; }

void EqualizerModel::tapKnob(const QString& which) {
    EQSettings s = settings();
    bool& flag = which == QLatin1String("mid") ? s.midEnhancementEnabled : s.stereoEnhancementEnabled;
    flag = !flag;
    write(s);
}

}  // namespace korvanta
