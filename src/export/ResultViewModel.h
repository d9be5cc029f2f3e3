// The results screen's state: the cards on screen with their figures, and the export of every
// completed song into a folder, two cards at a time.
#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mastering/BatchProcessor.h"
#include "platform/Preferences.h"

namespace korvanta {

// The name a song is exported under: its file name without the extension and without anything
// from "_master" or "_final" on, trimmed, then " (MASTER)" or " (FINAL)" and the extension
// ("Track_master.wav" as master in WAV → "Track (MASTER).wav").
std::string exportFileName(const std::string& filename, bool finalVersion, const std::string& extension);

// The STEREO figure of a processed column: the width of the active equaliser record when it
// decodes with both the equaliser and stereo enhancement on, in whole percent; otherwise 0.
int stereoPercent(const Preferences& store);

// Main thread only. Rows are the cards on screen (visibleFiles): completed songs with the
// rendering of the mode, in list order. The export writes one song at a time on a worker thread.
class ResultViewModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(BatchProcessor* batchProcessor READ batchProcessor WRITE setBatchProcessor NOTIFY
                   batchProcessorChanged)
    Q_PROPERTY(bool isFinalMode READ isFinalMode NOTIFY isFinalModeChanged)
    Q_PROPERTY(int completedCount READ completedCount NOTIFY countsChanged)
    Q_PROPERTY(int failedCount READ failedCount NOTIFY countsChanged)
    Q_PROPERTY(QString failureSummary READ failureSummary NOTIFY countsChanged)
    Q_PROPERTY(int count READ count NOTIFY countsChanged)
    Q_PROPERTY(bool isExportAnimating READ isExportAnimating NOTIFY exportStateChanged)
    Q_PROPERTY(bool exportAnimationCompleted READ exportAnimationCompleted NOTIFY exportStateChanged)
    Q_PROPERTY(int exportedFilesCount READ exportedFilesCount NOTIFY exportStateChanged)
    Q_PROPERTY(bool showExportChoiceAlert READ showExportChoiceAlert NOTIFY showExportChoiceAlertChanged)
    // Asks the screen to open the folder chooser ("Select a Folder to Save All Files").
    Q_PROPERTY(bool showFolderChooser READ showFolderChooser NOTIFY showFolderChooserChanged)
    Q_PROPERTY(QString exportFormatExtension READ exportFormatExtension NOTIFY exportStateChanged)
    // One line per exported M4A whose decoded true peak is above −1.0 dBTP: "<name>: M4A true
    // peak +0.4 dBTP — may distort after encoding on some players"; "" when none.
    Q_PROPERTY(QString encodingWarnings READ encodingWarnings NOTIFY encodingWarningsChanged)
    // The outcome of the last "Export Report…": "Report saved: <path>" or the error; "" before.
    Q_PROPERTY(QString reportMessage READ reportMessage NOTIFY reportMessageChanged)
    Q_PROPERTY(bool isWritingReport READ isWritingReport NOTIFY reportMessageChanged)

public:
    enum class ExportChoice { master, final };

    enum Role {
        SongIdRole = Qt::UserRole + 1,
        FilenameRole,
        SongIndexRole,  // position in the batch processor's list
        ShowSealRole,   // "checkmark.seal.fill" beside the name
        LeftLufsRole,   // texts of the figures, "%.1f", defaults when a column has no stats
        LeftRmsRole,
        LeftPeakRole,
        LeftStereoRole,  // "12%"
        RightLufsRole,
        RightRmsRole,
        RightPeakRole,
        RightStereoRole,
        LeftLabelRole,   // "ORIGINAL" / "MASTER"
        RightLabelRole,  // "MASTER" / "FINAL"
        BpmRole,         // "128 BPM", or "" before mastering
        IsLeavingRole,   // the card has been exported and leaves with its row
        AppearDelayRole, // seconds after the screen shows before the card enters
        LeftTruePeakRole,   // "%.1f" dBTP, "" without stats
        RightTruePeakRole,
        LeftLufsR128Role,   // "%.1f" LUFS (R128), "—" when gated out, "" without stats
        RightLufsR128Role,
        PenaltyRowRole,     // the services' gains for the right column: "Spotify -4.2 · …"
        EncodingWarningRole,  // the M4A check's warning for this song, or ""
    };
    Q_ENUM(Role)

    // `store` holds the export format and the active equaliser; `cleanup` deletes renderings;
    // `resetApplication` returns the workflow to the import screen.
    explicit ResultViewModel(QObject* parent = nullptr);
    ResultViewModel(Preferences& store, QObject* parent = nullptr);

    BatchProcessor* batchProcessor() const { return batchProcessor_; }
    void setBatchProcessor(BatchProcessor* processor);
    void setCleanup(std::function<void(bool removeAll)> cleanup) { cleanup_ = std::move(cleanup); }
    void setResetApplication(std::function<void(bool clearFiles)> reset) { resetApplication_ = std::move(reset); }
    void setOnExportFinished(std::function<void()> done) { exportFinished_ = std::move(done); }

    bool isFinalMode() const;
    int completedCount() const;
    int failedCount() const;
    QString failureSummary() const;
    int count() const { return rowCount(); }
    bool isExportAnimating() const { return isExportAnimating_; }
    bool exportAnimationCompleted() const { return exportAnimationCompleted_; }
    int exportedFilesCount() const { return exportedFilesCount_; }
    bool showExportChoiceAlert() const { return showExportChoiceAlert_; }
    bool showFolderChooser() const { return showFolderChooser_; }
    QString exportFormatExtension() const;
    QString encodingWarnings() const;
    QString reportMessage() const { return reportMessage_; }
    bool isWritingReport() const { return isWritingReport_; }
    const std::vector<AudioFile>& visibleFiles() const { return visibleFiles_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // "EXPORT ALL": in final mode asks which version first, else opens the folder chooser.
    Q_INVOKABLE void startExportAll();
    // The export choice alert's buttons: "Export FINAL" (true) or "Export MASTER" (false).
    Q_INVOKABLE void chooseExport(bool finalVersion);
    Q_INVOKABLE void cancelExportChoice();
    // The folder chooser's outcome; a chosen folder starts the export.
    Q_INVOKABLE void exportFolderChosen(const QUrl& folder);
    Q_INVOKABLE void exportFolderCancelled();
    // The screen went away.
    Q_INVOKABLE void screenDisappeared();
    // "Export Report…": writes every song of the batch to `file` (.csv, .json or .html by its
    // extension) on a worker; reportMessage tells the outcome.
    Q_INVOKABLE void exportReport(const QUrl& file);

signals:
    void batchProcessorChanged();
    void isFinalModeChanged();
    void countsChanged();
    void exportStateChanged();
    void showExportChoiceAlertChanged();
    void showFolderChooserChanged();
    void encodingWarningsChanged();
    void reportMessageChanged();
    // The export has written song `index` of visibleFiles (true) or skipped it (false).
    void songExported(const QString& songId, bool written);

private:
    void refill();
    std::vector<AudioFile> completedFiles() const;
    void chooseExportFolder();
    void startExport();
    void exportNext(size_t index, int pairCount);
    void exportFile(size_t index, int pairCount);
    void markExported(size_t index, int pairCount);
    void removeExportedRow();
    void finishExport();
    void setExportState(bool animating, bool completed);
    QVariant columnFigure(const AudioFile& f, bool left, int role) const;
    void noteEncodedTruePeak(const std::string& songId, float truePeakDb);

    Preferences& store_;
    QPointer<BatchProcessor> batchProcessor_;
    std::vector<AudioFile> visibleFiles_;
    QSet<QString> exportingCards_;
    std::function<void(bool)> cleanup_;
    std::function<void(bool)> resetApplication_;
    std::function<void()> exportFinished_;
    ExportChoice exportChoice_ = ExportChoice::master;
    std::optional<std::filesystem::path> selectedExportFolder_;
    bool isExportAnimating_ = false;
    bool exportAnimationCompleted_ = false;
    int exportedFilesCount_ = 0;
    bool showExportChoiceAlert_ = false;
    bool showFolderChooser_ = false;
    uint64_t exportRun_ = 0;  // tells a running export's late steps from a newer export's
    std::map<std::string, float> encodedTruePeaks_;  // song id → true peak of its exported M4A
    QString reportMessage_;
    bool isWritingReport_ = false;
};

}  // namespace korvanta
