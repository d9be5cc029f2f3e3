#include "reference/ReferenceTrackManager.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include "reference/ReferenceProfileStore.h"
#include "reference/ReferenceTrackAnalysis.h"
#include "platform/AudioFileType.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceKeys.h"
#include "platform/WorkerPool.h"

namespace korvanta {

namespace {

template <typename Job>
void onMainThread(Job&& job) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<Job>(job),
                              Qt::QueuedConnection);
}

QVariantList floatList(const std::vector<float>& values) {
    QVariantList list;
    for (float v : values) list.push_back(v);
    return list;
}

QVariantMap profileVariant(const std::optional<SpectralProfile>& profile) {
    if (!profile) return {};
    return {{"frequencies", floatList(profile->frequencies)},
            {"magnitudes", floatList(profile->magnitudes)},
            {"referenceFileName", QString::fromStdString(profile->referenceFileName)},
            {"spectrum12Band", floatList(profile->spectrum12Band)}};
}

}  // namespace

ReferenceTrackManager* ReferenceTrackManager::shared() {
    static ReferenceTrackManager* instance = new ReferenceTrackManager(sharedPreferences());
    return instance;
}

ReferenceTrackManager::ReferenceTrackManager(Preferences& store, QObject* parent)
    : QObject(parent), store_(store) {
    loadProfile();
}

void ReferenceTrackManager::loadProfile() {
    auto stored = korvanta::loadProfile(store_);
    if (!stored) return;
    currentProfile_ = std::move(stored);
    referenceSpectrum_ = currentProfile_->spectrum12Band;
}

QString ReferenceTrackManager::referenceFileName() const {
    return currentProfile_ ? QString::fromStdString(currentProfile_->referenceFileName) : QString();
}

void ReferenceTrackManager::setIsVisible(bool value) {
    if (value == isVisible_) return;
    isVisible_ = value;
    emit isVisibleChanged();
}

void ReferenceTrackManager::setIsEnabled(bool value) {
    if (value == isEnabled_) return;
    isEnabled_ = value;
    emit isEnabledChanged();
}

void ReferenceTrackManager::setReferenceLUFS(float lufs) {
    if (referenceLUFS_ == lufs) return;
    referenceLUFS_ = lufs;
    emit referenceLUFSChanged();
}

void ReferenceTrackManager::loadReferenceTrack(const QString& path) {
    loadReferenceTrack(std::filesystem::path(path.toStdString()));
}

QString ReferenceTrackManager::droppedAudioFile(const QList<QUrl>& urls) const {
    return firstAudioFile(urls);
}

void ReferenceTrackManager::loadReferenceTrack(const std::filesystem::path& path) {
    ++loadsRunning_;
    if (loadsRunning_ == 1) emit isLoadingChanged();
    QPointer<ReferenceTrackManager> self(this);
    runOnWorker([self, path] {
        auto analysis = analyzeReferenceTrack(path, [self](const AudioStats& stats) {
            onMainThread([self, lufs = stats.lufs] {
                if (self) self->setReferenceLUFS(lufs);
            });
        });
        onMainThread([self, analysis = std::move(analysis)] {
            if (!self) return;
            if (--self->loadsRunning_ == 0) emit self->isLoadingChanged();
            if (!analysis) {
                emit self->loadFinished(false, QString::fromStdString(analysis.error().description()));
                return;
            }
            self->currentProfile_ = analysis->profile;
            self->referenceSpectrum_ = analysis->profile.spectrum12Band;
            saveProfile(analysis->profile, self->store_);
            emit self->currentProfileChanged();
            emit self->referenceSpectrumChanged();
            emit self->referenceTrackLoaded();
            NotificationCenter::shared()->post(QString::fromLatin1(notifications::kReferenceTrackLoaded));
            emit self->loadFinished(true, {});
            QTimer::singleShot(1000, self, [self] {
                if (self) self->hideReferencePanel();
            });
        });
    });
}

void ReferenceTrackManager::analyzeCurrentTrack(const QString& path, bool isOriginal) {
    QPointer<ReferenceTrackManager> self(this);
    const std::filesystem::path file = path.toStdString();
    runOnWorker([self, file, isOriginal] {
        auto spectra = analyzeTrackSpectra(file);
        onMainThread([self, isOriginal, spectra = std::move(spectra)] {
            if (!self) return;
            if (!spectra) {
                self->clearTrackProfiles();
                return;
            }
            if (isOriginal) {
                self->currentTrackProfile_ = spectra->profile;
                self->masteredTrackProfile_.reset();
                self->setOriginalSpectrum(spectra->spectrum12Band);
            } else {
                self->masteredTrackProfile_ = spectra->profile;
                self->currentTrackProfile_.reset();
                self->setMasteredSpectrum(spectra->spectrum12Band);
            }
            emit self->currentTrackProfileChanged();
            emit self->masteredTrackProfileChanged();
        });
    });
}

void ReferenceTrackManager::clearReference() {
    const bool had = currentProfile_.has_value();
    currentProfile_.reset();
    korvanta::clearReference(store_);
    if (had) emit currentProfileChanged();
}

void ReferenceTrackManager::clearTrackProfiles() {
    const bool had = currentTrackProfile_ || masteredTrackProfile_;
    currentTrackProfile_.reset();
    masteredTrackProfile_.reset();
    if (had) {
        emit currentTrackProfileChanged();
        emit masteredTrackProfileChanged();
    }
}

// --- The panel ------------------------------------------------------------------------------

PanelFrame ReferenceTrackManager::restoredPanelFrame(const std::optional<PanelFrame>& stored, const PanelFrame& screen,
                                                     const PanelFrame& current) {
    if (stored && !stored->isEmpty()) return *stored;
    PanelFrame f = current;
    f.x = screen.x + screen.width / 2.0 - current.width / 2.0;
    f.y = screen.y + screen.height / 2.0 - current.height / 2.0;
    return f;
}

void ReferenceTrackManager::showReferencePanel(QObject* batchProcessor) {
    if (batchProcessor) batchProcessor_ = batchProcessor;
    if (panel_ && panel_->isVisible()) {
        panel_->bringToFront();
        setIsVisible(true);
        return;
    }
    releasePanel();
    panel_ = PanelFactory::shared().createPanel(PanelOptions{QString::fromLatin1(kPanelTitle),
                                                             QStringLiteral("ReferencePanel"),
                                                             QSize(kPanelWidth, kPanelHeight),
                                                             QSize(kPanelWidth, kPanelHeight)});
    FloatingPanel* panel = panel_.get();
    panel->setContent(QUrl(QStringLiteral("qrc:/Korvanta/reference/ReferenceTrackView.qml")),
                      {{QStringLiteral("manager"), QVariant::fromValue<QObject*>(this)}});
    std::optional<PanelFrame> stored;
    if (auto text = store_.stringValue(keys::kReferenceTrackWindowPosition)) stored = panelFrameFromString(*text);
    panel->setFrame(restoredPanelFrame(stored, PanelFactory::shared().mainScreenVisibleFrame(), panel->frame()));
    connect(panel, &FloatingPanel::moved, this, &ReferenceTrackManager::savePanelFrame);
    connect(panel, &FloatingPanel::resized, this, &ReferenceTrackManager::savePanelFrame);
    connect(panel, &FloatingPanel::userWillClose, this, [this] {
        setIsVisible(false);
        setIsEnabled(false);
        releasePanel();
    });
    panel->bringToFront();
    setIsVisible(true);
}

void ReferenceTrackManager::savePanelFrame() {
    if (panel_) store_.setString(keys::kReferenceTrackWindowPosition, panelFrameToString(panel_->frame()));
}

void ReferenceTrackManager::releasePanel() {
    // The panel object goes later: this may run inside one of its own signals.
    if (!panel_) return;
    disconnect(panel_.get(), nullptr, this, nullptr);
    panel_.release()->deleteLater();
}

void ReferenceTrackManager::hideReferencePanel() {
    if (panel_) {
        savePanelFrame();
        panel_->close();
    }
    releasePanel();
    setIsVisible(false);
    setIsEnabled(false);
}

void ReferenceTrackManager::setOriginalSpectrum(std::vector<float> values) {
    if (values == originalSpectrum_) return;
    originalSpectrum_ = std::move(values);
    emit originalSpectrumChanged();
}

void ReferenceTrackManager::setMasteredSpectrum(std::vector<float> values) {
    if (values == masteredSpectrum_) return;
    masteredSpectrum_ = std::move(values);
    emit masteredSpectrumChanged();
}

QVariantMap ReferenceTrackManager::currentProfileVariant() const { return profileVariant(currentProfile_); }
QVariantMap ReferenceTrackManager::currentTrackProfileVariant() const { return profileVariant(currentTrackProfile_); }
QVariantMap ReferenceTrackManager::masteredTrackProfileVariant() const { return profileVariant(masteredTrackProfile_); }
QVariantList ReferenceTrackManager::referenceSpectrumVariant() const { return floatList(referenceSpectrum_); }
QVariantList ReferenceTrackManager::originalSpectrumVariant() const { return floatList(originalSpectrum_); }
QVariantList ReferenceTrackManager::masteredSpectrumVariant() const { return floatList(masteredSpectrum_); }
QVariant ReferenceTrackManager::referenceLUFSVariant() const {
    return referenceLUFS_ ? QVariant(*referenceLUFS_) : QVariant();
}

}  // namespace korvanta
