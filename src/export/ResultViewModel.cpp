#include "export/ResultViewModel.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdio>

#include "eq/EQSettings.h"
#include "export/DeliveryReport.h"
#include "export/EncodedTruePeak.h"
#include "export/ExportFormat.h"
#include "export/ExportWriter.h"
#include "export/PlatformLoudness.h"
#include "platform/DelayScheduler.h"
#include "platform/FileOperations.h"
#include "platform/PreferenceKeys.h"
#include "platform/WorkerPool.h"

namespace korvanta {

namespace fs = std::filesystem;

namespace {

std::string trimmed(const std::string& s) {
    const auto begin = s.find_first_not_of(" \t\n\r\f\v");
    if (begin == std::string::npos) return {};
    const auto end = s.find_last_not_of(" \t\n\r\f\v");
    return s.substr(begin, end - begin + 1);
}

QString figure(float value) {
    if (std::isnan(value)) return QStringLiteral("\u2014");  // not measured
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(value));
    return QString::fromLatin1(text);
}

}  // namespace

std::string exportFileName(const std::string& filename, bool finalVersion, const std::string& extension) {
    std::string base = filename;
    if (auto dot = base.rfind('.'); dot != std::string::npos) base = base.substr(0, dot);
    if (auto at = base.find("_master"); at != std::string::npos) base = base.substr(0, at);
    if (auto at = base.find("_final"); at != std::string::npos) base = base.substr(0, at);
    base = trimmed(base);
    return base + (finalVersion ? " (FINAL)" : " (MASTER)") + "." + extension;
}

int stereoPercent(const Preferences& store) {
    auto bytes = store.bytesValue(keys::kActiveEQSettings);
    if (!bytes) return 0;
    auto settings = decodeEQSettings(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!settings || !settings->isEnabled || !settings->stereoEnhancementEnabled) return 0;
    return static_cast<int>(std::trunc((settings->stereoWidth - 1.0f) * 100.0f));
}

ResultViewModel::ResultViewModel(QObject* parent) : ResultViewModel(sharedPreferences(), parent) {}

ResultViewModel::ResultViewModel(Preferences& store, QObject* parent)
    : QAbstractListModel(parent), store_(store) {}

void ResultViewModel::setBatchProcessor(BatchProcessor* processor) {
    if (processor == batchProcessor_) return;
    if (batchProcessor_) disconnect(batchProcessor_, nullptr, this, nullptr);
    batchProcessor_ = processor;
    if (batchProcessor_) {
        connect(batchProcessor_, &BatchProcessor::audioFilesChanged, this, [this] {
            if (!isExportAnimating_) refill();
            emit countsChanged();
        });
        connect(batchProcessor_, &BatchProcessor::isFinalModeChanged, this, [this] {
            refill();
            emit isFinalModeChanged();
        });
    }
    refill();
    emit batchProcessorChanged();
    emit isFinalModeChanged();
}

bool ResultViewModel::isFinalMode() const { return batchProcessor_ && batchProcessor_->isFinalMode(); }

std::vector<AudioFile> ResultViewModel::completedFiles() const {
    std::vector<AudioFile> out;
    if (!batchProcessor_) return out;
    const bool finalMode = batchProcessor_->isFinalMode();
    for (const auto& f : batchProcessor_->audioFiles()) {
        if (f.processingStatus != ProcessingStatus::completed) continue;
        if (finalMode ? f.finalURL.has_value() : f.masterURL.has_value()) out.push_back(f);
    }
    return out;
}

void ResultViewModel::refill() {
    std::vector<AudioFile> files = completedFiles();
    const bool sameCards = files.size() == visibleFiles_.size() &&
                           std::equal(files.begin(), files.end(), visibleFiles_.begin(),
                                      [](const AudioFile& a, const AudioFile& b) { return a.id == b.id; });
    if (sameCards) {
        visibleFiles_ = std::move(files);
        if (!visibleFiles_.empty()) emit dataChanged(index(0), index(int(visibleFiles_.size()) - 1));
    } else {
        beginResetModel();
        visibleFiles_ = std::move(files);
        endResetModel();
    }
    emit countsChanged();
}

int ResultViewModel::completedCount() const { return batchProcessor_ ? batchProcessor_->completedCount() : 0; }

int ResultViewModel::failedCount() const {
    if (!batchProcessor_) return 0;
    int n = 0;
    for (const auto& f : batchProcessor_->audioFiles()) n += f.processingStatus == ProcessingStatus::failed;
    return n;
}

QString ResultViewModel::failureSummary() const {
    QStringList lines;
    if (!batchProcessor_) return {};
    for (const auto& f : batchProcessor_->audioFiles()) {
        if (f.processingStatus != ProcessingStatus::failed) continue;
        QString line = QString::fromStdString(f.filename);
        if (f.failure) line += QStringLiteral(": ") + QString::fromStdString(f.failure->description());
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QString ResultViewModel::exportFormatExtension() const {
    return QString::fromLatin1(fileExtension(savedExportFormat(store_)).data()).toUpper();
}

int ResultViewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(visibleFiles_.size());
}

QVariant ResultViewModel::columnFigure(const AudioFile& f, bool left, int role) const {
    const bool finalMode = isFinalMode();
    // normal: original | master; final: master | final
    const std::optional<AudioStats>& stats =
        finalMode ? (left ? f.masterStats : f.finalStats) : (left ? f.originalStats : f.masterStats);
    switch (role) {
    case LeftLufsRole:
    case RightLufsRole: return figure(stats ? stats->lufs : -14.0f);
    case LeftRmsRole:
    case RightRmsRole: return figure(stats ? stats->rms : -12.0f);
    case LeftPeakRole:
    case RightPeakRole: return figure(stats ? stats->peak : -3.0f);
    case LeftStereoRole:
    case RightStereoRole: {
        const bool original = left && !finalMode;
        return QString::number(original ? 0 : stereoPercent(store_)) + QLatin1Char('%');
    }
    case LeftTruePeakRole:
    case RightTruePeakRole: return stats ? figure(stats->truePeak) : QString();
    case LeftLufsR128Role:
    case RightLufsR128Role:
        if (!stats) return QString();
        return std::isfinite(stats->lufsR128) ? figure(stats->lufsR128) : QStringLiteral("\u2014");
    case PenaltyRowRole:
        if (!stats) return QString();
        return QString::fromStdString(penaltySummary(platformPenalties(stats->lufsR128, stats->truePeak)));
    default: return {};
    }
}

QVariant ResultViewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const AudioFile& f = visibleFiles_[static_cast<size_t>(index.row())];
    switch (role) {
    case SongIdRole: return QString::fromStdString(f.id);
    case Qt::DisplayRole:
    case FilenameRole: return QString::fromStdString(f.filename);
    case SongIndexRole: {
        if (!batchProcessor_) return -1;
        const auto& all = batchProcessor_->audioFiles();
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i].id == f.id) return static_cast<int>(i);
        }
        return -1;
    }
    case ShowSealRole: return f.masterStats.has_value() || isFinalMode();
    case LeftLufsRole:
    case LeftRmsRole:
    case LeftPeakRole:
    case LeftStereoRole: return columnFigure(f, true, role);
    case RightLufsRole:
    case RightRmsRole:
    case RightPeakRole:
    case RightStereoRole: return columnFigure(f, false, role);
    case LeftTruePeakRole:
    case LeftLufsR128Role: return columnFigure(f, true, role);
    case RightTruePeakRole:
    case RightLufsR128Role:
    case PenaltyRowRole: return columnFigure(f, false, role);
    case EncodingWarningRole: {
        const auto peak = encodedTruePeaks_.find(f.id);
        return peak == encodedTruePeaks_.end() ? QString()
                                               : QString::fromStdString(encodedTruePeakWarning(peak->second));
    }
    case LeftLabelRole: return isFinalMode() ? QStringLiteral("MASTER") : QStringLiteral("ORIGINAL");
    case RightLabelRole: return isFinalMode() ? QStringLiteral("FINAL") : QStringLiteral("MASTER");
    case BpmRole: return f.masterBPM > 0 ? QString::number(f.masterBPM) + QStringLiteral(" BPM") : QString();
    case IsLeavingRole: return exportingCards_.contains(QString::fromStdString(f.id));
    case AppearDelayRole: return 0.3 + 0.15 * index.row();
    default: return {};
    }
}

QHash<int, QByteArray> ResultViewModel::roleNames() const {
    return {{SongIdRole, "songId"},         {FilenameRole, "filename"},       {SongIndexRole, "songIndex"},
            {ShowSealRole, "showSeal"},     {LeftLufsRole, "leftLufs"},       {LeftRmsRole, "leftRms"},
            {LeftPeakRole, "leftPeak"},     {LeftStereoRole, "leftStereo"},   {RightLufsRole, "rightLufs"},
            {RightRmsRole, "rightRms"},     {RightPeakRole, "rightPeak"},     {RightStereoRole, "rightStereo"},
            {LeftLabelRole, "leftLabel"},   {RightLabelRole, "rightLabel"},   {BpmRole, "bpm"},
            {IsLeavingRole, "isLeaving"},   {AppearDelayRole, "appearDelay"},
            {LeftTruePeakRole, "leftTruePeak"}, {RightTruePeakRole, "rightTruePeak"},
            {LeftLufsR128Role, "leftLufsR128"}, {RightLufsR128Role, "rightLufsR128"},
            {PenaltyRowRole, "penaltyRow"}, {EncodingWarningRole, "encodingWarning"}};
}

// --- Export ----------------------------------------------------------------------------------

void ResultViewModel::startExportAll() {
    if (isExportAnimating_) return;
    if (isFinalMode()) {
        showExportChoiceAlert_ = true;
        emit showExportChoiceAlertChanged();
    } else {
        exportChoice_ = ExportChoice::master;
        chooseExportFolder();
    }
}

void ResultViewModel::chooseExport(bool finalVersion) {
    exportChoice_ = finalVersion ? ExportChoice::final : ExportChoice::master;
    showExportChoiceAlert_ = false;
    emit showExportChoiceAlertChanged();
    chooseExportFolder();
}

void ResultViewModel::cancelExportChoice() {
    showExportChoiceAlert_ = false;
    emit showExportChoiceAlertChanged();
}

void ResultViewModel::chooseExportFolder() {
    showFolderChooser_ = true;
    emit showFolderChooserChanged();
}

void ResultViewModel::exportFolderCancelled() {
    showFolderChooser_ = false;
    emit showFolderChooserChanged();
}

void ResultViewModel::exportFolderChosen(const QUrl& folder) {
    showFolderChooser_ = false;
    emit showFolderChooserChanged();
    const QString path = folder.isLocalFile() ? folder.toLocalFile() : folder.toString();
    if (path.isEmpty()) return;
    selectedExportFolder_ = fs::path(path.toStdString());
    startExport();
}

void ResultViewModel::setExportState(bool animating, bool completed) {
    if (animating == isExportAnimating_ && completed == exportAnimationCompleted_) return;
    isExportAnimating_ = animating;
    exportAnimationCompleted_ = completed;
    emit exportStateChanged();
}

void ResultViewModel::startExport() {
    if (!selectedExportFolder_) return;
    ++exportRun_;
    exportingCards_.clear();
    exportedFilesCount_ = 0;
    setExportState(true, false);
    if (visibleFiles_.empty()) refill();
    const uint64_t run = exportRun_;
    runAfter(0.2, this, [this, run] {
        if (run == exportRun_) exportNext(0, 0);
    });
}

void ResultViewModel::exportNext(size_t index, int pairCount) {
    if (!visibleFiles_.empty() && index < visibleFiles_.size()) {
        exportFile(index, pairCount);
        return;
    }
    const uint64_t run = exportRun_;
    runAfter(0.5, this, [this, run] {
        if (run == exportRun_) finishExport();
    });
}

void ResultViewModel::exportFile(size_t index, int pairCount) {
    const AudioFile& song = visibleFiles_[index];
    const bool finalVersion = isFinalMode() && exportChoice_ == ExportChoice::final;
    const std::optional<fs::path> source = isFinalMode() ? (finalVersion ? song.finalURL : song.masterURL)
                                                         : song.masterURL;
    if (!source) {
        emit songExported(QString::fromStdString(song.id), false);
        exportNext(index + 1, pairCount);
        return;
    }
    const ExportFormat format = savedExportFormat(store_);
    const fs::path destination =
        *selectedExportFolder_ / exportFileName(song.filename, finalVersion, std::string(fileExtension(format)));
    std::optional<Bytes> artwork;
    if (batchProcessor_ && !batchProcessor_->sessionGlobalArtwork().isEmpty()) {
        const QByteArray& a = batchProcessor_->sessionGlobalArtwork();
        artwork = Bytes(a.begin(), a.end());
    }

    // Writing (a copy, or an AAC encode) runs on a worker; the loop goes on on the main thread.
    QPointer<ResultViewModel> self(this);
    const uint64_t run = exportRun_;
    const QString id = QString::fromStdString(song.id);
    Preferences* store = &store_;
    runOnWorker([self, run, index, pairCount, id, source = *source, destination,
                                          format, artwork, store] {
        enum class Outcome { written, failed, sourceMissing, notReplaced } outcome = Outcome::failed;
        std::optional<float> encodedPeak;  // every M4A is decoded again for its true peak
        std::error_code ec;
        if (fs::exists(destination, ec) && !fs::remove(destination, ec)) {
            outcome = Outcome::notReplaced;  // an existing file that cannot be replaced
        } else if (!fileExists(source)) {
            outcome = Outcome::sourceMissing;
        } else if (writeExportFile(source, destination, format, artwork, *store)) {
            outcome = Outcome::written;
            if (format == ExportFormat::m4a) {
                if (auto peak = measureFileTruePeak(destination)) encodedPeak = peak.value();
            }
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, run, index, pairCount, id, outcome, encodedPeak] {
                if (!self || run != self->exportRun_) return;
                if (encodedPeak) self->noteEncodedTruePeak(id.toStdString(), *encodedPeak);
                if (outcome == Outcome::sourceMissing) {
                    emit self->songExported(id, false);
                    self->exportNext(index + 1, pairCount);
                    return;
                }
                if (outcome == Outcome::written) {
                    ++self->exportedFilesCount_;
                    emit self->exportStateChanged();
                }
                emit self->songExported(id, outcome == Outcome::written);
                self->markExported(index, pairCount);
            },
            Qt::QueuedConnection);
    });
}

void ResultViewModel::markExported(size_t index, int pairCount) {
    if (index < visibleFiles_.size()) {
        exportingCards_.insert(QString::fromStdString(visibleFiles_[index].id));
        emit dataChanged(this->index(int(index)), this->index(int(index)), {IsLeavingRole});
    }
    const int n = pairCount + 1;
    const uint64_t run = exportRun_;
    if (n % 2 == 1) {
        runAfter(0.25, this, [this, run, index, n] {
            if (run == exportRun_) exportNext(index + 1, n);
        });
    } else {
        runAfter(0.3, this, [this, run] {
            if (run == exportRun_) removeExportedRow();
        });
    }
}

void ResultViewModel::removeExportedRow() {
    for (int row = int(visibleFiles_.size()) - 1; row >= 0; --row) {
        if (!exportingCards_.contains(QString::fromStdString(visibleFiles_[size_t(row)].id))) continue;
        beginRemoveRows({}, row, row);
        visibleFiles_.erase(visibleFiles_.begin() + row);
        endRemoveRows();
    }
    exportingCards_.clear();
    emit countsChanged();
    const uint64_t run = exportRun_;
    runAfter(0.2, this, [this, run] {
        if (run == exportRun_) exportNext(0, 0);
    });
}

void ResultViewModel::finishExport() {
    setExportState(true, true);
    if (cleanup_) cleanup_(true);
    const uint64_t run = exportRun_;
    runAfter(2.0, this, [this, run] {
        if (run != exportRun_) return;
        if (exportFinished_) exportFinished_();
        setExportState(false, false);
        if (resetApplication_) resetApplication_(true);
    });
}

void ResultViewModel::screenDisappeared() {
    ++exportRun_;
    setExportState(false, false);
    selectedExportFolder_.reset();
}

// --- Delivery -------------------------------------------------------------------------------

void ResultViewModel::noteEncodedTruePeak(const std::string& songId, float truePeakDb) {
    encodedTruePeaks_[songId] = truePeakDb;
    for (size_t row = 0; row < visibleFiles_.size(); ++row) {
        if (visibleFiles_[row].id == songId) {
            const QModelIndex at = index(static_cast<int>(row));
            emit dataChanged(at, at, {EncodingWarningRole});
        }
    }
    emit encodingWarningsChanged();
}

QString ResultViewModel::encodingWarnings() const {
    QStringList lines;
    if (!batchProcessor_) return {};
    for (const auto& song : batchProcessor_->audioFiles()) {
        const auto peak = encodedTruePeaks_.find(song.id);
        if (peak == encodedTruePeaks_.end()) continue;
        const std::string warning = encodedTruePeakWarning(peak->second);
        if (!warning.empty()) lines << QString::fromStdString(song.filename + ": " + warning);
    }
    return lines.join(QLatin1Char('\n'));
}

void ResultViewModel::exportReport(const QUrl& file) {
    if (isWritingReport_ || !batchProcessor_) return;
    const fs::path path = file.isLocalFile() ? fs::path(file.toLocalFile().toStdString())
                                             : fs::path(file.toString().toStdString());
    std::vector<ReportSong> songs;
    for (const auto& song : batchProcessor_->audioFiles()) {
        const auto peak = encodedTruePeaks_.find(song.id);
        songs.push_back(reportSongFrom(song, peak == encodedTruePeaks_.end() ? std::nullopt
                                                                             : std::optional<float>(peak->second)));
    }
    isWritingReport_ = true;
    emit reportMessageChanged();
    QPointer<ResultViewModel> self(this);
    QThreadPool::globalInstance()->start([self, path, songs = std::move(songs)] {
        const Status written = writeReport(path, songs);
        const QString message = written ? QStringLiteral("Report saved: ") + QString::fromStdString(path.string())
                                        : QString::fromStdString(written.error().description());
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, message] {
                if (!self) return;
                self->isWritingReport_ = false;
                self->reportMessage_ = message;
                emit self->reportMessageChanged();
            },
            Qt::QueuedConnection);
    });
}

}  // namespace korvanta
