// The rows of the processing screen: the selected songs from the one being processed on.
#pragma once

#include <QPointer>
#include <QSortFilterProxyModel>

#include "app/SongListModel.h"

namespace korvanta {

// Main thread only. A song has a row while it is selected and its position is at or after the
// batch's current index, so finished songs leave the list one by one.
class ProcessingQueueModel : public QSortFilterProxyModel {
    Q_OBJECT
    Q_PROPERTY(SongListModel* songs READ songs WRITE setSongs NOTIFY songsChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    // Extra role of the rows: the song's position in the whole list.
    static constexpr int SongIndexRole = Qt::UserRole + 100;

    explicit ProcessingQueueModel(QObject* parent = nullptr);

    SongListModel* songs() const { return songs_; }
    void setSongs(SongListModel* songs);
    int count() const { return rowCount(); }

    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void songsChanged();
    void countChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QPointer<SongListModel> songs_;
    QMetaObject::Connection indexConnection_;
};

}  // namespace korvanta
