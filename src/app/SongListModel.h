// The song list of a batch processor as a list model: the import list, the processing rows and
// the result cards all show it.
#pragma once

#include <QAbstractListModel>
#include <QPointer>

#include <string>

#include "mastering/BatchProcessor.h"

namespace korvanta {

// "m:ss" of a song length in seconds (whole seconds, truncated); "--:--" for a length that is not
// a finite, non-negative number.
std::string durationText(double seconds);

// Main thread only. Rows follow the processor's list one by one: an inserted, removed or changed
// song inserts, removes or changes exactly its row, so views keep their delegates.
class SongListModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(BatchProcessor* batchProcessor READ batchProcessor WRITE setBatchProcessor NOTIFY
                   batchProcessorChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        FilenameRole,
        UrlRole,
        DurationRole,      // seconds, or undefined
        DurationTextRole,  // "3:07", or "" when the length is unknown
        IsSelectedRole,
        StatusRole,  // "pending", "processing", "completed", "failed"
        FailureRole,  // why the last batch failed the song, or ""
        HasOriginalStatsRole,
        OriginalLufsRole,
        OriginalPeakRole,
        OriginalRmsRole,
        HasMasterStatsRole,
        MasterLufsRole,
        MasterPeakRole,
        MasterRmsRole,
        HasFinalStatsRole,
        FinalLufsRole,
        FinalPeakRole,
        FinalRmsRole,
        MasterUrlRole,  // "" when absent
        FinalUrlRole,
        BpmRole,     // tempo the master's limiter was timed by; 0 before mastering
        PassesRole,  // passes the master took; 0 before mastering
        // The standard figures beside the system's: true peak (dBTP) and LUFS (R128), or
        // undefined without stats (LUFS (R128) is −Infinity when every block is gated out).
        OriginalTruePeakRole,
        OriginalLufsR128Role,
        MasterTruePeakRole,
        MasterLufsR128Role,
        FinalTruePeakRole,
        FinalLufsR128Role,
    };
    Q_ENUM(Role)

    explicit SongListModel(QObject* parent = nullptr);

    BatchProcessor* batchProcessor() const { return processor_; }
    void setBatchProcessor(BatchProcessor* processor);
    int count() const { return rowCount(); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void batchProcessorChanged();
    void countChanged();

private:
    QPointer<BatchProcessor> processor_;
    QMetaObject::Connection connections_[4];
};

}  // namespace korvanta
