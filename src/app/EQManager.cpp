#include "app/EQManager.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/DelayScheduler.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"

namespace korvanta {

namespace {

const QUrl kContent(QStringLiteral("qrc:/Korvanta/eq/EQPanelView.qml"));

bool hasNonZero(const std::vector<float>& values) {
    return std::any_of(values.begin(), values.end(), [](float v) { return v != 0.0f; });
}

}  // namespace

bool hasAudibleEQ(const EQSettings& s) {
    const bool band = std::any_of(s.bands.begin(), s.bands.end(),
                                  [](const EQBand& b) { return std::fabs(b.gain) > 0.1f; });
    return band || std::fabs(s.masterGain) > 0.1f ||
           (s.stereoEnhancementEnabled && std::fabs(s.stereoWidth - 1.0f) > 0.01f) ||
           (s.midEnhancementEnabled && std::fabs(s.midAmount - 1.0f) > 0.01f);
}

QVariantMap eqSettingsToVariant(const EQSettings& s) {
    QVariantList bands;
    for (const EQBand& b : s.bands) {
        bands.append(QVariantMap{{QStringLiteral("frequency"), double(b.frequency)},
                                 {QStringLiteral("gain"), double(b.gain)},
                                 {QStringLiteral("q"), double(b.q)}});
    }
    return {{QStringLiteral("bands"), bands},
            {QStringLiteral("isEnabled"), s.isEnabled},
            {QStringLiteral("masterGain"), double(s.masterGain)},
            {QStringLiteral("stereoEnhancementEnabled"), s.stereoEnhancementEnabled},
            {QStringLiteral("stereoWidth"), double(s.stereoWidth)},
            {QStringLiteral("midEnhancementEnabled"), s.midEnhancementEnabled},
            {QStringLiteral("midAmount"), double(s.midAmount)},
            {QStringLiteral("isAutoReferenceMode"), s.isAutoReferenceMode}};
}

EQSettings eqSettingsFromVariant(const QVariantMap& map, const EQSettings& base) {
    EQSettings s = base;
    if (map.contains(QStringLiteral("bands"))) {
        const QVariantList bands = map.value(QStringLiteral("bands")).toList();
        std::vector<EQBand> out;
        for (qsizetype i = 0; i < bands.size(); ++i) {
            const QVariant& item = bands[i];
            EQBand band = size_t(i) < base.bands.size() ? base.bands[size_t(i)] : EQBand{};
            const QVariantMap b = item.toMap();
            if (!b.isEmpty()) {
                if (b.contains(QStringLiteral("frequency"))) band.frequency = b.value(QStringLiteral("frequency")).toFloat();
                if (b.contains(QStringLiteral("gain"))) band.gain = b.value(QStringLiteral("gain")).toFloat();
                if (b.contains(QStringLiteral("q"))) band.q = b.value(QStringLiteral("q")).toFloat();
            } else {
                band.gain = item.toFloat();  // a plain list of gains
            }
            out.push_back(band);
        }
        s.bands = std::move(out);
    }
    const auto flag = [&](const char* key, bool& field) {
        if (map.contains(QLatin1String(key))) field = map.value(QLatin1String(key)).toBool();
    };
    const auto number = [&](const char* key, float& field) {
        if (map.contains(QLatin1String(key))) field = map.value(QLatin1String(key)).toFloat();
    };
    flag("isEnabled", s.isEnabled);
    number("masterGain", s.masterGain);
    flag("stereoEnhancementEnabled", s.stereoEnhancementEnabled);
    number("stereoWidth", s.stereoWidth);
    flag("midEnhancementEnabled", s.midEnhancementEnabled);
    number("midAmount", s.midAmount);
    flag("isAutoReferenceMode", s.isAutoReferenceMode);
    return s;
}

EQManager* EQManager::shared() {
    static auto* instance = new EQManager(sharedPreferences(), nullptr);
    return instance;
}

EQManager::EQManager(Preferences& store, AudioPlayerManager* player, QObject* parent,
                     ReferenceTrackManager* reference)
    : QObject(parent), store_(store), defaultPlayer_(player), audioPlayer_(player), reference_(reference) {
    auto* center = NotificationCenter::shared();
    center->addObserver(notifications::kApplicationWillTerminate, [this] { applicationWillTerminate(); }, this);
    center->addObserver(notifications::kEQSettingsChanged, [this] { handleEQSettingsChanged(); }, this);
    eqSettings_ = EQSettings{};
}

EQManager::~EQManager() = default;

ReferenceTrackManager* EQManager::reference() const {
    return reference_ ? reference_.data() : ReferenceTrackManager::shared();
}

AudioPlayerManager* EQManager::sharedPlayer() {
    return defaultPlayer_ ? defaultPlayer_.data() : AudioPlayerManager::shared();
}

AudioPlayerManager* EQManager::audioPlayer() { return audioPlayer_ ? audioPlayer_.data() : sharedPlayer(); }

void EQManager::setAudioPlayer(AudioPlayerManager* player) {
    if (audioPlayer_ == player) return;
    audioPlayer_ = player;
    emit audioPlayerChanged();
}

void EQManager::setEqSettings(const EQSettings& settings) {
    if (settings == eqSettings_) return;
    eqSettings_ = settings;
    emit eqSettingsChanged();
}

void EQManager::setIsAutoReferenceMode(bool value) {
    if (value == isAutoReferenceMode_) return;
    isAutoReferenceMode_ = value;
    emit isAutoReferenceModeChanged();
}

void EQManager::setIsVisible(bool value) {
    if (value == isVisible_) return;
    isVisible_ = value;
    emit isVisibleChanged();
}

void EQManager::handleEQSettingsChanged() {
    const EQSettings stored = loadEQSettings(keys::kEQSettings, store_);
    if (stored.isEnabled == eqSettings_.isEnabled) return;
    setEqSettings(loadEQSettings(keys::kEQSettings, store_));
    if (AudioPlayerManager* player = audioPlayer()) player->updateEQSettings(eqSettings_);
}

// --- The panel ------------------------------------------------------------------------------

void EQManager::showPanel(BatchProcessor* batchProcessor, AudioPlayerManager* player) {
    batchProcessor_ = batchProcessor;
    setAudioPlayer(player);
    EQSettings enabled = eqSettings_;
    enabled.isEnabled = true;
    setEqSettings(enabled);
    saveEQSettings(eqSettings_, keys::kEQSettings, store_);
    if (AudioPlayerManager* p = audioPlayer(); p && p->playbackState() == PlaybackState::playing) {
        p->updateEQSettings(eqSettings_);
    }
    if (panel_ && panel_->isVisible()) {
        panel_->bringToFront();
    } else {
        createPanel();
    }
    setIsVisible(true);
}

void EQManager::createPanel() {
    releasePanel();
    panel_ = PanelFactory::shared().createPanel(PanelOptions{QString::fromLatin1(kTitle), QStringLiteral("EQPanel"),
                                                             QSize(kMinimumWidth, kMinimumHeight),
                                                             QSize(kMinimumWidth, kMinimumHeight)});
    FloatingPanel* panel = panel_.get();
    panel->setContent(kContent, {{QStringLiteral("manager"), QVariant::fromValue<QObject*>(this)},
                                 {QStringLiteral("player"), QVariant::fromValue<QObject*>(audioPlayer())}});
    connect(panel, &FloatingPanel::moved, this, &EQManager::savePanelFrame);
    connect(panel, &FloatingPanel::resized, this, &EQManager::savePanelFrame);
    connect(panel, &FloatingPanel::userWillClose, this, &EQManager::userClosedPanel);
    restorePanelFrame();
    panel->bringToFront();
}

void EQManager::releasePanel() {
    // The panel object goes later: this may run inside one of its own signals.
    if (!panel_) return;
    disconnect(panel_.get(), nullptr, this, nullptr);
    panel_.release()->deleteLater();
}

void EQManager::hidePanel() {
    savePanelFrame();
    if (panel_) panel_->close();
    releasePanel();
    setIsVisible(false);
}

void EQManager::savePanelFrame() {
    if (!panel_) return;
    const PanelFrame f = panel_->frame();
    store_.setDouble(keyEQPositionX, f.x);
    store_.setDouble(keyEQPositionY, f.y);
    store_.setDouble(keyEQWidth, f.width);
    store_.setDouble(keyEQHeight, f.height);
}

PanelFrame EQManager::restoredFrame(double x, double y, double width, double height, const PanelFrame& screen) {
    const double maxX = screen.x + screen.width;
    const double maxY = screen.y + screen.height;
    PanelFrame f;
    f.x = x > 0 && x < maxX - 100 ? x : maxX - 620;
    // Our origin is the top-left corner, so "near the top right" is 20 below the visible top
    // (a 600 × 500 panel on a 1440 × 900 screen: 820, 20 — its bottom edge 380 above the screen's).
    f.y = y > 0 && y < maxY ? y : screen.y + 20;
    f.width = width > 100 ? width : 600;
    f.height = height > 100 ? height : 500;
    return f;
}

void EQManager::restorePanelFrame() {
    if (!panel_) return;
    const auto stored = [&](const char* key) { return store_.doubleValue(key).value_or(0.0); };
    panel_->setFrame(restoredFrame(stored(keyEQPositionX), stored(keyEQPositionY), stored(keyEQWidth),
                                   stored(keyEQHeight), PanelFactory::shared().mainScreenVisibleFrame()));
}

void EQManager::applicationWillTerminate() {
    savePanelFrame();
    if (panel_) {
        panel_->orderOut();
        panel_->close();
    }
    releasePanel();
    setIsVisible(false);
}

void EQManager::userClosedPanel() {
    savePanelFrame();
    setIsVisible(false);
    releasePanel();
    EQSettings off = eqSettings_;
    off.isEnabled = false;
    setEqSettings(off);
    saveEQSettings(eqSettings_, keys::kEQSettings, store_);
    if (AudioPlayerManager* player = sharedPlayer()) player->updateEQSettings(eqSettings_);
    if (!loadEQSettings(keys::kActiveEQSettings, store_).isEnabled) store_.remove(keys::kActiveEQSettings);
}

void EQManager::writeSettings(const QVariantMap& settings) {
    applyPanelSettings(eqSettingsFromVariant(settings, eqSettings_));
}

void EQManager::applyPanelSettings(const EQSettings& settings) {
    setEqSettings(settings);
    if (AudioPlayerManager* player = audioPlayer()) player->updateEQSettings(eqSettings_);
    saveEQSettings(eqSettings_, keys::kEQSettings, store_);
}

// --- REMASTER -------------------------------------------------------------------------------

void EQManager::remasterWithEQ() {
    BatchProcessor* batch = batchProcessor_;
    if (!batch || batch->isProcessing()) return;
    const auto& files = batch->audioFiles();
    if (std::none_of(files.begin(), files.end(), [](const AudioFile& f) { return f.masterURL.has_value(); })) return;
    if (!hasAudibleEQ(eqSettings_)) return;

    EQSettings record = eqSettings_;
    record.isEnabled = true;
    record.isAutoReferenceMode = isAutoReferenceMode_;
    saveEQSettings(record, keys::kEQSettings, store_);
    saveEQSettings(record, keys::kActiveEQSettings, store_);

    int written = 0;
    const int count = batch->fileCount();
    for (int i = 0; i < count && i < batch->fileCount(); ++i) {
        AudioFile song = batch->audioFiles()[size_t(i)];
        const std::optional<std::filesystem::path> source = song.finalURL ? song.finalURL : song.masterURL;
        std::error_code error;
        if (!source || !std::filesystem::exists(*source, error)) continue;
        song.masterURL = source;
        if (song.finalStats) song.masterStats = song.finalStats;
        song.finalURL.reset();
        song.finalStats.reset();
        song.isSelected = true;
        song.processingStatus = ProcessingStatus::pending;
        batch->setAudioFile(i, std::move(song));
        ++written;
    }
    if (written == 0) return;
    runAfter(0.1, this, [this] {
        if (batchProcessor_ && batchProcessor_->isProcessing()) return;
        NotificationCenter::shared()->post(notifications::kRemasterWithEQ);
    });
}

// --- Matched reference gains ----------------------------------------------------------------

void EQManager::toggleReferenceEQ() {
    ReferenceTrackManager* r = reference();
    if (!r->currentProfile() || !hasNonZero(r->referenceSpectrumValues())) return;
    if (!hasNonZero(r->masteredSpectrumValues())) return;
    if (isAutoReferenceMode_) {
        removeReferenceGains();
    } else {
        applyReferenceGains();
    }
}

void EQManager::removeReferenceGains() {
    ReferenceTrackManager* r = reference();
    setIsAutoReferenceMode(false);
    if (hasNonZero(r->originalSpectrumValues())) r->setMasteredSpectrum(r->originalSpectrumValues());
    EQSettings s = eqSettings_;
    for (EQBand& band : s.bands) band.gain = 0.0f;
    s.isAutoReferenceMode = false;
    setEqSettings(s);
    saveEQSettings(eqSettings_, keys::kEQSettings, store_);
    saveEQSettings(eqSettings_, keys::kActiveEQSettings, store_);
    NotificationCenter::shared()->post(notifications::kEQSettingsChanged);
    if (AudioPlayerManager* p = audioPlayer(); p && p->playbackState() == PlaybackState::playing) {
        p->updateEQSettings(eqSettings_);
    }
}

void EQManager::applyReferenceGains() {
    ReferenceTrackManager* r = reference();
    const std::vector<float> target = r->masteredSpectrumValues();
    const std::vector<float>& referenceSpectrum = r->referenceSpectrumValues();
    if (target.size() < 12 || referenceSpectrum.size() < 12 || eqSettings_.bands.size() < 12) return;
    if (savedReferenceEQ_.size() != 12) {
        savedReferenceEQ_.assign(12, 0.0f);
        for (size_t i = 0; i < 12; ++i) savedReferenceEQ_[i] = referenceSpectrum[i] - target[i];
    }
    r->setOriginalSpectrum(target);
    EQSettings s = eqSettings_;
    for (size_t i = 0; i < 12; ++i) s.bands[i].gain = savedReferenceEQ_[i];
    s.isEnabled = true;
    setEqSettings(s);
    setIsAutoReferenceMode(true);
    r->setMasteredSpectrum(r->referenceSpectrumValues());
    saveEQSettings(eqSettings_, keys::kEQSettings, store_);
    saveEQSettings(eqSettings_, keys::kActiveEQSettings, store_);
    NotificationCenter::shared()->post(notifications::kEQSettingsChanged);
    NotificationCenter::shared()->post(notifications::kTriggerRemasterPulse);
    if (AudioPlayerManager* p = audioPlayer(); p && p->playbackState() == PlaybackState::playing) {
        p->updateEQSettings(eqSettings_);
    }
}

}  // namespace korvanta
