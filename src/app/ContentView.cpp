#include "app/ContentView.h"

#include <QFileInfo>

#include <cmath>

#include "app/CleanupManager.h"
#include "app/ImportRules.h"
#include "app/SettingsWindowManager.h"
#include "eq/EQSettings.h"
#include "mastering/MasteringSettings.h"
#include "platform/AudioFileType.h"
#include "platform/DelayScheduler.h"
#include "platform/PreferenceKeys.h"
#include "reference/ReferenceTrackManager.h"

namespace korvanta {

namespace fs = std::filesystem;

const char* appStateName(AppState state) {
    switch (state) {
    case AppState::importFiles: return "importFiles";
    case AppState::processing: return "processing";
    case AppState::result: return "result";
    }
    return "importFiles";
}

namespace {

const char* alertTypeName(AlertType type) {
    switch (type) {
    case AlertType::fileTooLong: return "fileTooLong";
    case AlertType::invalidFileFormat: return "invalidFileFormat";
    case AlertType::analysisFailed: return "analysisFailed";
    case AlertType::generalError: return "generalError";
    case AlertType::cancelConfirmation: return "cancelConfirmation";
    case AlertType::processingError: return "processingError";
    case AlertType::exportError: return "exportError";
    }
    return "";
}

// Runs `job` on the main thread after the events already queued there.
template <typename Job>
void later(QObject* context, Job&& job) {
    QMetaObject::invokeMethod(context, std::forward<Job>(job), Qt::QueuedConnection);
}

std::vector<fs::path> localPaths(const QList<QUrl>& urls) {
    std::vector<fs::path> paths;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) paths.emplace_back(url.toLocalFile().toStdString());
    }
    return paths;
}

}  // namespace

AlertText alertText(AlertType type) {
    switch (type) {
    case AlertType::fileTooLong:
        return {"File too long",
                "The application only accepts audio files shorter than 20 minutes. Please upload a file with a "
                "shorter duration."};
    case AlertType::invalidFileFormat:
        return {"Invalid file format",
                "The selected file is not a valid audio format. Please select a valid audio file."};
    case AlertType::analysisFailed:
        return {"Analysis failed", "Failed to analyze the audio file. Please try with a different file."};
    case AlertType::generalError:
        return {"Error", "An error occurred while processing the file. Please try again."};
    case AlertType::cancelConfirmation:
        return {"Cancel processing?",
                "Are you sure you want to cancel the audio processing? This action cannot be undone."};
    case AlertType::processingError:
        return {"Processing error",
                "An error occurred during audio processing. Please try again with a different file."};
    case AlertType::exportError:
        return {"Export error", "An error occurred while exporting the file. Please try again."};
    }
    return {"", ""};
}

std::optional<std::string> presetNameFor(float targetLUFS, float limitThreshold) {
    for (const auto& preset : kMasteringPresets) {
        if (std::fabs(preset.settings.targetLUFS - targetLUFS) < 0.1f &&
            std::fabs(preset.settings.limitThreshold - limitThreshold) < 0.1f) {
            return std::string(preset.name);
        }
    }
    return std::nullopt;
}

ContentView::ContentView(QObject* parent) : ContentView(sharedPreferences(), parent) {}

ContentView::ContentView(Preferences& store, QObject* parent)
    : QObject(parent),
      store_(store),
      batchProcessor_(new BatchProcessor(store, this)),
      settingsManager_(new AudioSettingsManager(store, this)),
      results_(new ResultViewModel(store, this)),
      playback_(new ResultPlayback(results_, store, this)) {
    results_->setBatchProcessor(batchProcessor_);
    results_->setCleanup([](bool removeAll) { CleanupManager::cleanupTempFilesInBackground(removeAll); });
    results_->setResetApplication([this](bool clearFiles) { resetApplication(clearFiles); });
    results_->setOnExportFinished([this] { setShowExportComplete(false); });
    playback_->setEqualiserSettings([this] { return eqManager()->eqSettings(); });
    playback_->setLinkPlayer([this](AudioPlayerManager* player) { eqManager()->setAudioPlayer(player); });
    connect(batchProcessor_, &BatchProcessor::batchFinished, this, [this] {
        if (!awaitingBatch_) return;
        awaitingBatch_ = false;
        setAppState(AppState::result);
    });
}

ContentView::~ContentView() { removeObservers(); }

EQManager* ContentView::eqManager() const { return eqManager_ ? eqManager_.data() : EQManager::shared(); }

// --- Fields ---------------------------------------------------------------------------------

#define KORVANTA_SETTER(Name, field, signal)   \
    void ContentView::Name(bool value) {       \
        if (value == field) return;            \
        field = value;                         \
        emit signal();                         \
    }
KORVANTA_SETTER(setDragOver, dragOver_, dragOverChanged)
KORVANTA_SETTER(setIsImportingFiles, isImportingFiles_, isImportingFilesChanged)
KORVANTA_SETTER(setIsImportingFolder, isImportingFolder_, isImportingFolderChanged)
KORVANTA_SETTER(setShowExportComplete, showExportComplete_, showExportCompleteChanged)
KORVANTA_SETTER(setShowVectorscope, showVectorscope_, showVectorscopeChanged)
KORVANTA_SETTER(setShowEQ, showEQ_, showEQChanged)
KORVANTA_SETTER(setShowInfoPanel, showInfoPanel_, showInfoPanelChanged)
KORVANTA_SETTER(setShowReferenceTrack, showReferenceTrack_, showReferenceTrackChanged)
KORVANTA_SETTER(setShowSettings, showSettings_, showSettingsChanged)
KORVANTA_SETTER(setShowMaxFilesWarning, showMaxFilesWarning_, showMaxFilesWarningChanged)
KORVANTA_SETTER(setTriggerCardAttention, triggerCardAttention_, triggerCardAttentionChanged)
#undef KORVANTA_SETTER

void ContentView::setAppState(AppState state) {
    if (state == appState_) return;
    appState_ = state;
    emit appStateChanged();
}

void ContentView::setAlertType(std::optional<AlertType> type) {
    if (type == alertType_) return;
    alertType_ = type;
    emit alertTypeChanged();
}

QString ContentView::alertTypeText() const {
    return alertType_ ? QString::fromLatin1(alertTypeName(*alertType_)) : QString();
}

QString ContentView::alertTitle() const {
    return alertType_ ? QString::fromUtf8(alertText(*alertType_).title) : QString();
}

QString ContentView::alertMessage() const {
    return alertType_ ? QString::fromUtf8(alertText(*alertType_).message) : QString();
}

// --- The workflow ---------------------------------------------------------------------------

void ContentView::startMastering(bool withEQ, bool withReference) {
    const float target = settingsManager_->targetLoudness();
    const float threshold = settingsManager_->limitThreshold();
    std::optional<std::string> name;
    if (withEQ) {
        name = "Master + EQ";
    } else if (withReference) {
        name = "Master + Reference";
    } else {
        name = presetNameFor(target, threshold);
    }
    setAppState(AppState::processing);
    awaitingBatch_ = true;
    batchProcessor_->processFiles(name ? QString::fromStdString(*name) : QString(), withEQ, withReference,
                                  target, threshold);
}

void ContentView::startMasteringProcess() {
    store_.remove(keys::kActiveEQSettings);
    startMastering(false, false);
}

void ContentView::showCancelConfirmation() { setAlertType(AlertType::cancelConfirmation); }

void ContentView::cancelProcessing() {
    setAlertType(std::nullopt);
    batchProcessor_->cancel();
    later(this, [this] { setAppState(AppState::importFiles); });
}

void ContentView::dismissAlert() { setAlertType(std::nullopt); }

// --- Import ---------------------------------------------------------------------------------

int ContentView::importedCount() const {
    return batchProcessor_->fileCount() + batchProcessor_->pendingAddCount();
}

void ContentView::showMaxFilesWarningForAWhile() {
    const int warning = ++maxFilesWarnings_;
    setShowMaxFilesWarning(true);
    runAfter(3.0, this, [this, warning] {
        if (warning == maxFilesWarnings_) setShowMaxFilesWarning(false);
    });
}

void ContentView::processAudioFiles(const QList<QUrl>& urls) {
    const std::vector<fs::path> paths = localPaths(urls);
    if (paths.empty()) return;
    if (importedCount() + static_cast<int>(paths.size()) > kMaxFilesLimit) {
        showMaxFilesWarningForAWhile();
        return;
    }
    batchProcessor_->addFiles(paths);
}

void ContentView::importFolder(const QUrl& url) {
    if (!url.isLocalFile()) return;
    const std::vector<fs::path> found = audioFilesInFolder(url.toLocalFile().toStdString());
    if (found.empty()) return;
    if (importedCount() + static_cast<int>(found.size()) > kMaxFilesLimit) {
        showMaxFilesWarningForAWhile();
        return;
    }
    QList<QUrl> urls;
    for (const auto& path : found) urls.append(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    processAudioFiles(urls);
}

bool ContentView::handleDroppedItems(const QList<QUrl>& urls) {
    if (urls.isEmpty()) return true;
    const QUrl& first = urls.first();
    if (!first.isLocalFile() || first.toLocalFile().isEmpty()) {
        later(this, [this] { setAlertType(AlertType::invalidFileFormat); });
        return true;
    }
    const QFileInfo info(first.toLocalFile());
    if (info.isDir()) {
        importFolder(first);
    } else if (info.exists() && looksLikeAudioFile(info.filePath())) {
        processAudioFiles({first});
    }
    return true;
}

void ContentView::filesChosen(const QList<QUrl>& urls) {
    setIsImportingFiles(false);
    processAudioFiles(urls);
}

void ContentView::folderChosen(const QList<QUrl>& urls) {
    setIsImportingFolder(false);
    if (!urls.isEmpty()) importFolder(urls.first());
}

void ContentView::chooserFailed() {
    setIsImportingFiles(false);
    setIsImportingFolder(false);
    later(this, [this] { setAlertType(AlertType::generalError); });
}

void ContentView::importPaths(const QStringList& paths) {
    QList<QUrl> files;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        const QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
        if (info.isDir()) {
            importFolder(url);
        } else {
            files.append(url);
        }
    }
    processAudioFiles(files);
}

// --- Appearance, notifications and the toolbar ---------------------------------------------

void ContentView::appear() {
    CleanupManager::cleanupTempFilesInBackground(false);
    removeObservers();
    setShowVectorscope(store_.boolValue(keys::kShowVectorscope).value_or(false));
    if (showVectorscope_) playback_->vectorscope()->openVectorscope();
    addObservers();
}

void ContentView::disappear() {
    playback_->stopPlayback();
    removeObservers();
    playback_->vectorscope()->hideVectorscope();
    eqManager()->hidePanel();
}

void ContentView::toggleVectorscope() {
    setShowVectorscope(!showVectorscope_);
    if (showVectorscope_) {
        playback_->vectorscope()->openVectorscope();
    } else {
        playback_->vectorscope()->hideVectorscope();
    }
    store_.setBool(keys::kShowVectorscope, showVectorscope_);
}

void ContentView::toggleEQ() {
    setShowEQ(!showEQ_);
    EQSettings settings = loadEQSettings(keys::kEQSettings, store_);
    settings.isEnabled = showEQ_;
    saveEQSettings(settings, keys::kEQSettings, store_);
    saveEQSettings(settings, keys::kActiveEQSettings, store_);
    AudioPlayerManager* player = playback_->player();
    player->updateEQSettings(settings);
    NotificationCenter::shared()->post(notifications::kEQSettingsChanged);
    if (showEQ_) {
        eqManager()->showPanel(batchProcessor_, player);
    } else {
        eqManager()->hidePanel();
    }
}

void ContentView::toggleReferenceTrack() {
    setShowReferenceTrack(!showReferenceTrack_);
    ReferenceTrackManager* reference = ReferenceTrackManager::shared();
    reference->setIsEnabled(showReferenceTrack_);
    if (showReferenceTrack_) {
        reference->showReferencePanel(batchProcessor_);
    } else {
        reference->hideReferencePanel();
    }
}

void ContentView::removeObservers() {
    for (auto token : notificationTokens_) NotificationCenter::shared()->removeObserver(token);
    notificationTokens_.clear();
}

void ContentView::addObservers() {
    auto* center = NotificationCenter::shared();
    const auto observe = [&](const char* name, std::function<void()> block) {
        notificationTokens_.append(center->addObserver(QString::fromLatin1(name), std::move(block), this));
    };
    observe(notifications::kVectorscopeStateChanged,
            [this] { setShowVectorscope(playback_->vectorscope()->isVisible()); });
    observe(notifications::kSettingsWindowClosed,
            [this] { setShowSettings(SettingsWindowManager::shared()->isVisible()); });
    observe(notifications::kResetApplicationToDefaults, [this] { resetToDefaults(); });
    observe(notifications::kStartProcessingWithEQ, [this] {
        if (loadEQSettings(keys::kActiveEQSettings, store_).isEnabled) startMastering(true, false);
    });
    if (!batchProcessor_->isFinalMode()) {
        observe(notifications::kRemasterWithEQ, [this] { remasterWithEQ(); });
        observe(notifications::kRemasterWithReference, [this] { remasterWithReference(); });
    }
    observe(notifications::kReferenceTrackLoaded, [this] {
        setTriggerCardAttention(false);
        runAfter(1.1, this, [this] { setTriggerCardAttention(true); });
    });
}

void ContentView::resetToDefaults() {
    playback_->stopPlayback();
    batchProcessor_->clearFiles();
    batchProcessor_->setIsFinalMode(false);
    setAppState(AppState::importFiles);
    setShowVectorscope(false);
    setShowSettings(false);
    playback_->vectorscope()->hideVectorscope();
    SettingsWindowManager::shared()->closeSettings();
    eqManager()->hidePanel();
}

void ContentView::rebaseSongs() {
    const int count = batchProcessor_->fileCount();
    for (int i = 0; i < count; ++i) {
        AudioFile song = batchProcessor_->audioFiles()[size_t(i)];
        if (song.finalURL) song.masterURL = song.finalURL;
        if (song.finalStats) song.masterStats = song.finalStats;
        song.finalURL.reset();
        song.finalStats.reset();
        song.processingStatus = ProcessingStatus::pending;
        song.isSelected = true;
        batchProcessor_->setAudioFile(i, std::move(song));
    }
}

void ContentView::remasterWithEQ() {
    eqManager()->hidePanel();
    playback_->stopPlayback();
    rebaseSongs();
    runAfter(0.1, this, [this] {
        batchProcessor_->setIsFinalMode(true);
        if (loadEQSettings(keys::kActiveEQSettings, store_).isEnabled) startMastering(true, false);
    });
}

void ContentView::remasterWithReference() {
    ReferenceTrackManager* reference = ReferenceTrackManager::shared();
    if (!reference->isEnabled()) return;
    // The reference panel closes; its switch stays on for the batch below.
    reference->hideReferencePanel();
    reference->setIsEnabled(true);
    playback_->stopPlayback();
    rebaseSongs();
    batchProcessor_->setIsFinalMode(true);
    runAfter(0.1, this, [this] {
        if (ReferenceTrackManager::shared()->isEnabled()) startMastering(false, true);
    });
}

void ContentView::toggleSettings() {
    setShowSettings(!showSettings_);
    if (showSettings_) {
        SettingsWindowManager::shared()->showSettings(
            settingsManager_, appState_ == AppState::result, batchProcessor_->fileCount() > 0, batchProcessor_,
            [this] { onRemasterAction(); });
    } else {
        SettingsWindowManager::shared()->closeSettings();
    }
}

void ContentView::showGuide() { setShowInfoPanel(true); }

void ContentView::deleteAllAndStartOver() {
    SettingsWindowManager::shared()->closeSettings();
    eqManager()->hidePanel();
    playback_->vectorscope()->hideVectorscope();
    ReferenceTrackManager::shared()->hideReferencePanel();
    playback_->stopPlayback();
    resetApplication(true);
}

void ContentView::resetApplication(bool clearFiles) {
    playback_->stopPlayback();
    store_.remove(keys::kActiveEQSettings);
    store_.remove(keys::kProcessedWithOriginalEQ);
    playback_->vectorscope()->hideVectorscope();
    eqManager()->hidePanel();
    ReferenceTrackManager::shared()->clearTrackProfiles();
    setShowEQ(false);
    setShowReferenceTrack(false);
    if (clearFiles) {
        batchProcessor_->clearFiles();
        batchProcessor_->setIsFinalMode(false);
        setAppState(AppState::importFiles);
        CleanupManager::cleanupTempFilesInBackground(true);
    } else {
        setAppState(AppState::importFiles);
    }
}

void ContentView::onRemasterAction() {
    if (batchProcessor_->isProcessing()) return;
    playback_->stopPlayback();
    for (int i = 0; i < batchProcessor_->fileCount(); ++i) {
        AudioFile song = batchProcessor_->audioFiles()[static_cast<size_t>(i)];
        song.processingStatus = ProcessingStatus::pending;
        song.finalStats.reset();
        song.finalURL.reset();
        song.isSelected = true;
        batchProcessor_->setAudioFile(i, std::move(song));
    }
    batchProcessor_->setIsFinalMode(false);
    store_.remove(keys::kActiveEQSettings);
    startMastering(false, false);
}

}  // namespace korvanta
