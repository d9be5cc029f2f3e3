// The song list and the batch that masters it, as the screens and the command line see them.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "eq/EQSettings.h"
#include "mastering/AudioFile.h"
#include "mastering/AudioProcessor.h"
#include "mastering/MasteringSettings.h"
#include "platform/Preferences.h"

namespace korvanta {

// Published fields change on the main thread only; the pipeline runs on worker threads and
// reaches the processor through ProgressUpdater callbacks hopped to the main thread and through
// the cancellation flag, which is shared under `cancellationLock`.
class BatchProcessor : public QObject {
    Q_OBJECT
    Q_PROPERTY(int fileCount READ fileCount NOTIFY audioFilesChanged)
    Q_PROPERTY(int selectedCount READ selectedCount NOTIFY audioFilesChanged)
    Q_PROPERTY(int completedCount READ completedCount NOTIFY audioFilesChanged)
    Q_PROPERTY(int currentIndex READ currentIndex NOTIFY currentIndexChanged)
    Q_PROPERTY(double overallProgress READ overallProgress NOTIFY overallProgressChanged)
    Q_PROPERTY(double currentFileProgress READ currentFileProgress NOTIFY currentFileProgressChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(bool isFinalMode READ isFinalMode NOTIFY isFinalModeChanged)
    Q_PROPERTY(bool isAddingFiles READ isAddingFiles NOTIFY isAddingFilesChanged)
    Q_PROPERTY(QString usedPresetName READ usedPresetName NOTIFY usedPresetNameChanged)
    Q_PROPERTY(QByteArray sessionGlobalArtwork READ sessionGlobalArtwork WRITE setSessionGlobalArtwork
                   NOTIFY sessionGlobalArtworkChanged)

public:
    // The per-song operation; AudioProcessor::masterAudioFile unless a test installs another.
    using MasteringOperation = std::function<Result<DJMasteringResult>(
        const std::filesystem::path& input, const DJMasteringSettings& settings, bool finalMode,
        const std::optional<EQSettings>& eq, const std::shared_ptr<ProgressUpdater>& progress,
        const AudioProcessor::CancellationCheck& isCancelled)>;

    explicit BatchProcessor(Preferences& store = sharedPreferences(), QObject* parent = nullptr);
    ~BatchProcessor() override;

    const std::vector<AudioFile>& audioFiles() const { return audioFiles_; }
    std::vector<AudioFile> selectedFiles() const;
    int fileCount() const { return static_cast<int>(audioFiles_.size()); }
    int selectedCount() const;
    int completedCount() const;
    // Songs handed to addFiles that are still being opened and measured.
    int pendingAddCount() const { return static_cast<int>(addQueue_.size()) + pendingAdds_; }
    int currentIndex() const { return currentIndex_; }
    double overallProgress() const { return overallProgress_; }
    double currentFileProgress() const { return currentFileProgress_; }
    bool isProcessing() const { return isProcessing_; }
    bool isFinalMode() const { return isFinalMode_; }
    bool isAddingFiles() const { return pendingAdds_ > 0; }
    QString usedPresetName() const { return usedPresetName_; }
    QByteArray sessionGlobalArtwork() const { return sessionGlobalArtwork_; }
    void setSessionGlobalArtwork(const QByteArray& imageBytes);

    // Appends the songs at `paths` in order, skipping paths already in the list and files that do
    // not open as audio; each is measured on a worker thread first (unless measuring on import is
    // off). Emits addFilesFinished() when the last one has been handled.
    void addFiles(const std::vector<std::filesystem::path>& paths);
    Q_INVOKABLE void addFiles(const QStringList& paths);
    Q_INVOKABLE void removeFile(int index);
    Q_INVOKABLE void toggleSelection(int index);
    // Removes every song (a new session). Songs still waiting to be added are dropped too.
    Q_INVOKABLE void clearFiles();
    // Replaces the song at `index` (the panel hub rebases songs before a remaster). Ignored for an
    // index outside the list and while a batch runs.
    void setAudioFile(int index, AudioFile song);
    void setIsFinalMode(bool value);
    // Takes every song without a master as its own master, so that a final batch renders the
    // songs themselves through the equaliser (for songs that are already mastered).
    void adoptOriginalsAsMasters();

    // Starts a batch and returns at once; batchFinished() is emitted when it ends. Either flag
    // makes it a final batch (every selected song with a master is rendered through the active
    // equaliser); otherwise every selected pending song is mastered. An empty `presetName` means
    // no preset name. Does nothing while a batch runs.
    Q_INVOKABLE void processFiles(const QString& presetName, bool withEQ, bool withReference,
                                  float targetLUFS, float limitThreshold);

    // Any thread: the running song stops at its next check; later songs stay pending.
    Q_INVOKABLE void cancel();
    bool isCancelled() const;

    void setMasteringOperation(MasteringOperation operation);

    // Whether addFiles measures every song (its originalStats) before it joins the list; on by
    // default. Off, a song only has to open, and keeps no originalStats: for callers that never
    // show a song's original figures (the command line), whose songs are then decoded only by
    // their mastering. Applies to songs added afterwards.
    void setMeasuresOnImport(bool measure) { measuresOnImport_ = measure; }

signals:
    // Every change of the list; the row signals before it say which rows changed.
    void audioFilesChanged();
    void fileInserted(int index);
    void fileRemoved(int index);
    void fileChanged(int index);
    void filesReset();
    void currentIndexChanged();
    void overallProgressChanged();
    void currentFileProgressChanged();
    void isProcessingChanged();
    void isFinalModeChanged();
    void isAddingFilesChanged();
    void usedPresetNameChanged();
    void sessionGlobalArtworkChanged();
    void addFilesFinished();
    // One song's outcome (a failure's error is kept in the song's `failure`).
    void songFinished(int index, bool succeeded);
    void batchFinished();

private:
    struct Cancellation {
        std::mutex cancellationLock;
        bool _isCancelled = false;
    };
    struct Batch;

    void notifyChanged(size_t index);
    void setCurrentIndex(int index);
    void setProgress(double currentFile, double overall);
    void setIsProcessing(bool value);
    void startEntry(size_t k);
    void finishEntry(size_t k, Result<DJMasteringResult> result);
    void endBatch();
    // True while entry `k` of the batch numbered `generation` is the running song.
    bool isRunning(uint64_t generation, size_t k) const;
    void addNext();
    bool isKnownPath(const std::filesystem::path& normalisedPath) const;
    void addFinished(const std::filesystem::path& path, const std::optional<AudioFileDetails>& details);

    Preferences& store_;
    bool measuresOnImport_ = true;
    std::vector<AudioFile> audioFiles_;
    int currentIndex_ = 0;
    double overallProgress_ = 0.0;
    double currentFileProgress_ = 0.0;
    bool isProcessing_ = false;
    bool isFinalMode_ = false;
    QString usedPresetName_;
    QByteArray sessionGlobalArtwork_;
    std::shared_ptr<Cancellation> cancellation_ = std::make_shared<Cancellation>();
    std::unique_ptr<Batch> batch_;
    uint64_t batchGeneration_ = 0;
    MasteringOperation masteringOperation_;

    // Songs handed to addFiles: waiting, then being opened and measured (in the order given).
    struct PendingAdd {
        std::filesystem::path path;
        std::optional<AudioFileDetails> details;
        bool done = false;
    };
    std::vector<std::filesystem::path> addQueue_;
    std::vector<PendingAdd> adding_;
    int pendingAdds_ = 0;  // entries of adding_
    uint64_t addGeneration_ = 0;  // advanced by clearFiles, so late measurements are dropped
};

}  // namespace korvanta
