#include "app/SongListModel.h"

#include <cmath>
#include <cstdio>

namespace korvanta {

std::string durationText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0 || seconds > 1e9) return "--:--";
    const long long whole = static_cast<long long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(whole / 60), static_cast<int>(whole % 60));
    return text;
}

SongListModel::SongListModel(QObject* parent) : QAbstractListModel(parent) {}

void SongListModel::setBatchProcessor(BatchProcessor* processor) {
    if (processor == processor_) return;
    beginResetModel();
    for (auto& c : connections_) disconnect(c);
    processor_ = processor;
    if (processor_) {
        connections_[0] = connect(processor_, &BatchProcessor::fileInserted, this, [this](int row) {
            beginInsertRows({}, row, row);
            endInsertRows();
            emit countChanged();
        });
        connections_[1] = connect(processor_, &BatchProcessor::fileRemoved, this, [this](int row) {
            beginRemoveRows({}, row, row);
            endRemoveRows();
            emit countChanged();
        });
        connections_[2] = connect(processor_, &BatchProcessor::fileChanged, this, [this](int row) {
            emit dataChanged(index(row), index(row));
        });
        connections_[3] = connect(processor_, &BatchProcessor::filesReset, this, [this] {
            beginResetModel();
            endResetModel();
            emit countChanged();
        });
    }
    endResetModel();
    emit batchProcessorChanged();
    emit countChanged();
}

int SongListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !processor_) return 0;
    return processor_->fileCount();
}

namespace {

QString pathText(const std::optional<std::filesystem::path>& path) {
    return path ? QString::fromStdString(path->string()) : QString();
}

}  // namespace

QVariant SongListModel::data(const QModelIndex& index, int role) const {
    if (!processor_ || !index.isValid() || index.row() >= processor_->fileCount()) return {};
    const AudioFile& f = processor_->audioFiles()[static_cast<size_t>(index.row())];
    const auto figure = [](const std::optional<AudioStats>& s, float AudioStats::*field) -> QVariant {
        // A figure not measured (NaN) is no value at all.
        return s && !std::isnan(*s.*field) ? QVariant(double(*s.*field)) : QVariant();
    };
    switch (role) {
    case IdRole: return QString::fromStdString(f.id);
    case Qt::DisplayRole:
    case FilenameRole: return QString::fromStdString(f.filename);
    case UrlRole: return QString::fromStdString(f.url.string());
    case DurationRole: return f.duration ? QVariant(*f.duration) : QVariant();
    case DurationTextRole: return f.duration ? QString::fromStdString(durationText(*f.duration)) : QString();
    case IsSelectedRole: return f.isSelected;
    case StatusRole: return QString::fromLatin1(processingStatusName(f.processingStatus));
    case FailureRole: return f.failure ? QString::fromStdString(f.failure->description()) : QString();
    case HasOriginalStatsRole: return f.originalStats.has_value();
    case OriginalLufsRole: return figure(f.originalStats, &AudioStats::lufs);
    case OriginalPeakRole: return figure(f.originalStats, &AudioStats::peak);
    case OriginalRmsRole: return figure(f.originalStats, &AudioStats::rms);
    case HasMasterStatsRole: return f.masterStats.has_value();
    case MasterLufsRole: return figure(f.masterStats, &AudioStats::lufs);
    case MasterPeakRole: return figure(f.masterStats, &AudioStats::peak);
    case MasterRmsRole: return figure(f.masterStats, &AudioStats::rms);
    case HasFinalStatsRole: return f.finalStats.has_value();
    case FinalLufsRole: return figure(f.finalStats, &AudioStats::lufs);
    case FinalPeakRole: return figure(f.finalStats, &AudioStats::peak);
    case FinalRmsRole: return figure(f.finalStats, &AudioStats::rms);
    case MasterUrlRole: return pathText(f.masterURL);
    case FinalUrlRole: return pathText(f.finalURL);
    case BpmRole: return f.masterBPM;
    case PassesRole: return f.masterPasses;
    case OriginalTruePeakRole: return figure(f.originalStats, &AudioStats::truePeak);
    case OriginalLufsR128Role: return figure(f.originalStats, &AudioStats::lufsR128);
    case MasterTruePeakRole: return figure(f.masterStats, &AudioStats::truePeak);
    case MasterLufsR128Role: return figure(f.masterStats, &AudioStats::lufsR128);
    case FinalTruePeakRole: return figure(f.finalStats, &AudioStats::truePeak);
    case FinalLufsR128Role: return figure(f.finalStats, &AudioStats::lufsR128);
    default: return {};
    }
}

QHash<int, QByteArray> SongListModel::roleNames() const {
    return {
        {IdRole, "songId"},
        {FilenameRole, "filename"},
        {UrlRole, "url"},
        {DurationRole, "duration"},
        {DurationTextRole, "durationText"},
        {IsSelectedRole, "isSelected"},
        {StatusRole, "processingStatus"},
        {FailureRole, "failure"},
        {HasOriginalStatsRole, "hasOriginalStats"},
        {OriginalLufsRole, "originalLufs"},
        {OriginalPeakRole, "originalPeak"},
        {OriginalRmsRole, "originalRms"},
        {HasMasterStatsRole, "hasMasterStats"},
        {MasterLufsRole, "masterLufs"},
        {MasterPeakRole, "masterPeak"},
        {MasterRmsRole, "masterRms"},
        {HasFinalStatsRole, "hasFinalStats"},
        {FinalLufsRole, "finalLufs"},
        {FinalPeakRole, "finalPeak"},
        {FinalRmsRole, "finalRms"},
        {MasterUrlRole, "masterURL"},
        {FinalUrlRole, "finalURL"},
        {BpmRole, "bpm"},
        {PassesRole, "passes"},
        {OriginalTruePeakRole, "originalTruePeak"},
        {OriginalLufsR128Role, "originalLufsR128"},
        {MasterTruePeakRole, "masterTruePeak"},
        {MasterLufsR128Role, "masterLufsR128"},
        {FinalTruePeakRole, "finalTruePeak"},
        {FinalLufsR128Role, "finalLufsR128"},
    };
}

}  // namespace korvanta
