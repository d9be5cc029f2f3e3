#include "app/ProcessingQueueModel.h"

namespace korvanta {

ProcessingQueueModel::ProcessingQueueModel(QObject* parent) : QSortFilterProxyModel(parent) {
    setDynamicSortFilter(true);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
        connect(this, signal, this, &ProcessingQueueModel::countChanged);
    }
    connect(this, &QAbstractItemModel::modelReset, this, &ProcessingQueueModel::countChanged);
}

void ProcessingQueueModel::setSongs(SongListModel* songs) {
    if (songs == songs_) return;
    disconnect(indexConnection_);
    songs_ = songs;
    setSourceModel(songs);
    if (songs_ && songs_->batchProcessor()) {
        indexConnection_ = connect(songs_->batchProcessor(), &BatchProcessor::currentIndexChanged, this,
                                   [this] { invalidateRowsFilter(); });
    }
    emit songsChanged();
    emit countChanged();
}

bool ProcessingQueueModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (!songs_ || !songs_->batchProcessor()) return false;
    const QModelIndex index = songs_->index(sourceRow, 0, sourceParent);
    return index.data(SongListModel::IsSelectedRole).toBool() &&
           sourceRow >= songs_->batchProcessor()->currentIndex();
}

QVariant ProcessingQueueModel::data(const QModelIndex& index, int role) const {
    if (role == SongIndexRole) return mapToSource(index).row();
    return QSortFilterProxyModel::data(index, role);
}

QHash<int, QByteArray> ProcessingQueueModel::roleNames() const {
    QHash<int, QByteArray> names = QSortFilterProxyModel::roleNames();
    names.insert(SongIndexRole, "songIndex");
    return names;
}

}  // namespace korvanta
