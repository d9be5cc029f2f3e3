// The main window's controller: the import → processing → result workflow, import checks,
// alerts, the toolbar and the notifications between the panels and the main window.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>
#include <string>

#include "app/AudioSettingsManager.h"
#include "app/EQManager.h"
#include "app/ResultPlayback.h"
#include "export/ResultViewModel.h"
#include "mastering/BatchProcessor.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

namespace korvanta {

enum class AppState { importFiles, processing, result };
const char* appStateName(AppState state);  // "importFiles", "processing", "result"

enum class AlertType {
    fileTooLong,
    invalidFileFormat,
    analysisFailed,
    generalError,
    cancelConfirmation,
    processingError,
    exportError,
};

struct AlertText {
    const char* title;
    const char* message;
};
AlertText alertText(AlertType type);

// The preset whose target and threshold both lie strictly within 0.1 of the given values, in
// the order Events, Radio, Club, Festival; none when no preset is that close.
std::optional<std::string> presetNameFor(float targetLUFS, float limitThreshold);

// Lives as long as the main window; main thread only. Owns the window's batch processor and
// loudness settings. Every delay runs through DelayScheduler, so tests drive time by hand.
class ContentView : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString appState READ appStateText NOTIFY appStateChanged)
    Q_PROPERTY(BatchProcessor* batchProcessor READ batchProcessor CONSTANT)
    Q_PROPERTY(AudioSettingsManager* settingsManager READ settingsManager CONSTANT)
    Q_PROPERTY(ResultViewModel* results READ results CONSTANT)
    Q_PROPERTY(ResultPlayback* playback READ playback CONSTANT)
    Q_PROPERTY(EQManager* eqManager READ eqManager CONSTANT)
    Q_PROPERTY(bool dragOver READ dragOver WRITE setDragOver NOTIFY dragOverChanged)
    Q_PROPERTY(bool isImportingFiles READ isImportingFiles WRITE setIsImportingFiles NOTIFY
                   isImportingFilesChanged)
    Q_PROPERTY(bool isImportingFolder READ isImportingFolder WRITE setIsImportingFolder NOTIFY
                   isImportingFolderChanged)
    Q_PROPERTY(bool showExportComplete READ showExportComplete WRITE setShowExportComplete NOTIFY
                   showExportCompleteChanged)
    Q_PROPERTY(bool showVectorscope READ showVectorscope NOTIFY showVectorscopeChanged)
    Q_PROPERTY(bool showEQ READ showEQ NOTIFY showEQChanged)
    Q_PROPERTY(bool showInfoPanel READ showInfoPanel WRITE setShowInfoPanel NOTIFY showInfoPanelChanged)
    Q_PROPERTY(bool showReferenceTrack READ showReferenceTrack NOTIFY showReferenceTrackChanged)
    Q_PROPERTY(bool showSettings READ showSettings NOTIFY showSettingsChanged)
    // The alert to show: "" for none, else the case name ("generalError", "cancelConfirmation", …).
    Q_PROPERTY(QString alertType READ alertTypeText NOTIFY alertTypeChanged)
    Q_PROPERTY(QString alertTitle READ alertTitle NOTIFY alertTypeChanged)
    Q_PROPERTY(QString alertMessage READ alertMessage NOTIFY alertTypeChanged)
    Q_PROPERTY(bool showMaxFilesWarning READ showMaxFilesWarning NOTIFY showMaxFilesWarningChanged)
    Q_PROPERTY(bool triggerCardAttention READ triggerCardAttention NOTIFY triggerCardAttentionChanged)
    Q_PROPERTY(int maxFilesLimit READ maxFilesLimit CONSTANT)

public:
    static constexpr int kMaxFilesLimit = 50;

    explicit ContentView(QObject* parent = nullptr);
    // A controller over `store` (tests).
    explicit ContentView(Preferences& store, QObject* parent = nullptr);
    ~ContentView() override;

    AppState appState() const { return appState_; }
    QString appStateText() const { return QString::fromLatin1(appStateName(appState_)); }
    BatchProcessor* batchProcessor() const { return batchProcessor_; }
    AudioSettingsManager* settingsManager() const { return settingsManager_; }
    ResultViewModel* results() const { return results_; }
    ResultPlayback* playback() const { return playback_; }
    // The equaliser manager (the shared one unless a test set another before first use).
    EQManager* eqManager() const;
    void setEqManager(EQManager* manager) { eqManager_ = manager; }
    bool dragOver() const { return dragOver_; }
    void setDragOver(bool value);
    bool isImportingFiles() const { return isImportingFiles_; }
    void setIsImportingFiles(bool value);
    bool isImportingFolder() const { return isImportingFolder_; }
    void setIsImportingFolder(bool value);
    bool showExportComplete() const { return showExportComplete_; }
    void setShowExportComplete(bool value);
    bool showVectorscope() const { return showVectorscope_; }
    bool showEQ() const { return showEQ_; }
    bool showInfoPanel() const { return showInfoPanel_; }
    void setShowInfoPanel(bool value);
    bool showReferenceTrack() const { return showReferenceTrack_; }
    bool showSettings() const { return showSettings_; }
    std::optional<AlertType> alertType() const { return alertType_; }
    QString alertTypeText() const;
    QString alertTitle() const;
    QString alertMessage() const;
    bool showMaxFilesWarning() const { return showMaxFilesWarning_; }
    bool triggerCardAttention() const { return triggerCardAttention_; }
    int maxFilesLimit() const { return kMaxFilesLimit; }

    // --- The workflow -------------------------------------------------------------------------
    // Starts a batch with the loudness settings and the preset they name.
    void startMastering(bool withEQ, bool withReference);
    // "MASTER SONGS!": forgets the active equaliser, then starts a master batch.
    Q_INVOKABLE void startMasteringProcess();
    Q_INVOKABLE void showCancelConfirmation();
    // "Cancel" in the cancel alert: the running song stops at its next check and the import
    // screen shows at once; the results screen follows when the batch has ended.
    Q_INVOKABLE void cancelProcessing();
    // Any button of an alert other than the cancel confirmation's "Cancel".
    Q_INVOKABLE void dismissAlert();

    // --- Import -------------------------------------------------------------------------------
    // The songs are opened and measured in the background; files that do not open as audio are
    // skipped without a message. A list that would grow beyond 50 songs is refused whole.
    Q_INVOKABLE void processAudioFiles(const QList<QUrl>& urls);
    // The folder's top-level audio files (by extension).
    Q_INVOKABLE void importFolder(const QUrl& url);
    // A drop on the window: only the first item counts (a folder, or one audio file). Always
    // accepts.
    Q_INVOKABLE bool handleDroppedItems(const QList<QUrl>& urls);
    // The file and folder choosers' outcomes.
    Q_INVOKABLE void filesChosen(const QList<QUrl>& urls);
    Q_INVOKABLE void folderChosen(const QList<QUrl>& urls);
    Q_INVOKABLE void chooserFailed();
    // Paths from the command line ("Open with"): folders as folder imports, files together.
    Q_INVOKABLE void importPaths(const QStringList& paths);

    // --- Appearance and the toolbar -------------------------------------------------------------
    // The window came on screen / goes away.
    Q_INVOKABLE void appear();
    Q_INVOKABLE void disappear();
    Q_INVOKABLE void toggleSettings();
    // The vectorscope button: shows or hides the panel and stores the choice.
    Q_INVOKABLE void toggleVectorscope();
    // The equaliser button: enables or disables the stored equaliser and opens or closes its panel.
    Q_INVOKABLE void toggleEQ();
    // The reference button ("R"): switches the reference on or off and opens or closes its panel.
    Q_INVOKABLE void toggleReferenceTrack();
    Q_INVOKABLE void showGuide();
    // "Delete All & Start Over".
    Q_INVOKABLE void deleteAllAndStartOver();
    // Back to the import screen; with `clearFiles` the list is emptied and every rendering
    // deleted.
    Q_INVOKABLE void resetApplication(bool clearFiles);
    // The settings window's remaster: every song again from its original with the current preset.
    void onRemasterAction();

signals:
    void appStateChanged();
    void dragOverChanged();
    void isImportingFilesChanged();
    void isImportingFolderChanged();
    void showExportCompleteChanged();
    void showVectorscopeChanged();
    void showEQChanged();
    void showInfoPanelChanged();
    void showReferenceTrackChanged();
    void showSettingsChanged();
    void alertTypeChanged();
    void showMaxFilesWarningChanged();
    void triggerCardAttentionChanged();

private:
    void setAppState(AppState state);
    void setAlertType(std::optional<AlertType> type);
    void setShowVectorscope(bool value);
    void setShowEQ(bool value);
    void setShowReferenceTrack(bool value);
    void setShowSettings(bool value);
    void setShowMaxFilesWarning(bool value);
    void setTriggerCardAttention(bool value);
    void showMaxFilesWarningForAWhile();
    // The number of songs listed or still being added.
    int importedCount() const;
    void addObservers();
    void removeObservers();
    void resetToDefaults();
    // Every song starts again from its latest rendering (final if any), selected and pending.
    void rebaseSongs();
    void remasterWithEQ();
    void remasterWithReference();

    Preferences& store_;
    AppState appState_ = AppState::importFiles;
    BatchProcessor* batchProcessor_ = nullptr;
    AudioSettingsManager* settingsManager_ = nullptr;
    ResultViewModel* results_ = nullptr;
    ResultPlayback* playback_ = nullptr;
    QPointer<EQManager> eqManager_;
    bool dragOver_ = false;
    bool isImportingFiles_ = false;
    bool isImportingFolder_ = false;
    bool showExportComplete_ = false;
    bool showVectorscope_ = false;
    bool showEQ_ = false;
    bool showInfoPanel_ = false;
    bool showReferenceTrack_ = false;
    bool showSettings_ = false;
    std::optional<AlertType> alertType_;
    bool showMaxFilesWarning_ = false;
    bool triggerCardAttention_ = false;
    QList<NotificationCenter::Token> notificationTokens_;
    bool awaitingBatch_ = false;   // a batch this window started has not returned yet
    int maxFilesWarnings_ = 0;     // warnings shown; each one's end only clears its own
};

}  // namespace korvanta
