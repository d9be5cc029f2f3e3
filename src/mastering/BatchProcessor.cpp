#include "mastering/BatchProcessor.h"

#include <QCoreApplication>
#include <QPointer>
#include <QUuid>

#include <algorithm>

#include "platform/PreferenceKeys.h"
#include "engine/LoudnessMeter.h"
#include "export/AudioConverter.h"
#include "export/ExportFormat.h"
#include "platform/AudioFileReader.h"
#include "platform/FileOperations.h"
#include "platform/StageTiming.h"
#include "platform/WorkerPool.h"
#include "reference/ReferenceTrackManager.h"
#include "reference/SpectralAnalyzer.h"

namespace korvanta {

namespace fs = std::filesystem;

namespace {

// Runs `job` on the main thread, after the events already queued there.
template <typename Job>
void onMainThread(Job&& job) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<Job>(job),
                              Qt::QueuedConnection);
}

fs::path normalised(const fs::path& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return (ec ? path : absolute).lexically_normal();
}

}  // namespace

struct BatchProcessor::Batch {
    std::vector<size_t> work;  // indices into audioFiles_
    bool withEQ = false;
    bool withReference = false;
    bool finalBatch = false;
    DJMasteringSettings settings;
    bool exportM4A = false;
    std::optional<EQSettings> eq;  // the stored active equaliser, when asked for
    size_t current = 0;            // position in `work` of the running song
    uint64_t generation = 0;       // tells this batch's late callbacks from the next batch's
};

BatchProcessor::BatchProcessor(Preferences& store, QObject* parent)
    : QObject(parent), store_(store), masteringOperation_(&AudioProcessor::masterAudioFile) {}

BatchProcessor::~BatchProcessor() {
    // A running song's pipeline finds the flag gone and reads "not cancelled"; its results are
    // dropped because the queued jobs check the processor's existence first.
}

std::vector<AudioFile> BatchProcessor::selectedFiles() const {
    std::vector<AudioFile> out;
    std::copy_if(audioFiles_.begin(), audioFiles_.end(), std::back_inserter(out),
                 [](const AudioFile& f) { return f.isSelected; });
    return out;
}

int BatchProcessor::selectedCount() const {
    return static_cast<int>(std::count_if(audioFiles_.begin(), audioFiles_.end(),
                                          [](const AudioFile& f) { return f.isSelected; }));
}

int BatchProcessor::completedCount() const {
    return static_cast<int>(std::count_if(audioFiles_.begin(), audioFiles_.end(), [](const AudioFile& f) {
        return f.processingStatus == ProcessingStatus::completed;
    }));
}

void BatchProcessor::notifyChanged(size_t index) {
    emit fileChanged(static_cast<int>(index));
    emit audioFilesChanged();
}

void BatchProcessor::setSessionGlobalArtwork(const QByteArray& imageBytes) {
    if (imageBytes == sessionGlobalArtwork_) return;
    sessionGlobalArtwork_ = imageBytes;
    emit sessionGlobalArtworkChanged();
}

void BatchProcessor::addFiles(const QStringList& paths) {
    std::vector<fs::path> list;
    for (const auto& p : paths) list.emplace_back(p.toStdString());
    addFiles(list);
}

void BatchProcessor::addFiles(const std::vector<fs::path>& paths) {
    for (const auto& path : paths) addQueue_.push_back(path);
    if (pendingAdds_ == 0 && addQueue_.empty()) {
        emit addFilesFinished();
        return;
    }
    const bool wasAdding = isAddingFiles();
    addNext();
    if (!wasAdding && isAddingFiles()) emit isAddingFilesChanged();
}

bool BatchProcessor::isKnownPath(const fs::path& normalisedPath) const {
    const auto same = [&](const fs::path& p) { return normalised(p) == normalisedPath; };
    return std::any_of(audioFiles_.begin(), audioFiles_.end(), [&](const AudioFile& f) { return same(f.url); }) ||
           std::any_of(adding_.begin(), adding_.end(), [&](const PendingAdd& a) { return same(a.path); });
}

void BatchProcessor::addNext() {
    // Several songs are opened and measured at once; they join the list in the order given.
    const int parallel = std::max(2, workerPool().maxThreadCount());
    while (!addQueue_.empty() && static_cast<int>(adding_.size()) < parallel) {
        const fs::path path = addQueue_.front();
        addQueue_.erase(addQueue_.begin());
        if (isKnownPath(normalised(path))) continue;  // already listed, or queued twice
        adding_.push_back(PendingAdd{path, std::nullopt, false});
        ++pendingAdds_;

        QPointer<BatchProcessor> self(this);
        const uint64_t generation = addGeneration_;
        runOnWorker([self, path, generation, measure = measuresOnImport_] {
            std::optional<AudioFileDetails> details;
            if (auto reader = AudioFileReader::open(path)) {
                const AudioFormat format = reader.value()->processingFormat();
                AudioFileDetails d;
                d.duration = static_cast<double>(reader.value()->length()) / format.sampleRate;
                d.sampleRate = format.sampleRate;
                d.channelCount = format.channelCount;
                reader.value().reset();
                if (measure) {
                    if (auto stats = analyzeAudioFile(path, MeasurementScope::window)) d.stats = stats.value();
                }
                details = d;
                timingMark("import: measured " + path.filename().string());
            }
            onMainThread([self, path, details, generation] {
                if (!self || generation != self->addGeneration_) return;  // the list was cleared
                self->addFinished(path, details);
            });
        });
    }
    if (pendingAdds_ == 0) emit addFilesFinished();
}

void BatchProcessor::addFinished(const fs::path& path, const std::optional<AudioFileDetails>& details) {
    for (auto& add : adding_) {
        if (!add.done && add.path == path) {
            add.done = true;
            add.details = details;
            break;
        }
    }
    // Songs join the list in the order they were given, whichever measurement ends first.
    while (!adding_.empty() && adding_.front().done) {
        PendingAdd add = std::move(adding_.front());
        adding_.erase(adding_.begin());
        --pendingAdds_;
        if (!add.details) continue;  // not an audio file: skipped without a message
        AudioFile song;
        song.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
        song.url = add.path;
        song.filename = add.path.filename().string();
        song.duration = add.details->duration;
        song.sampleRate = add.details->sampleRate;
        song.channelCount = add.details->channelCount;
        song.originalStats = add.details->stats;
        audioFiles_.push_back(std::move(song));
        emit fileInserted(static_cast<int>(audioFiles_.size() - 1));
        emit audioFilesChanged();
    }
    addNext();
    if (pendingAdds_ == 0) emit isAddingFilesChanged();
}

void BatchProcessor::removeFile(int index) {
    if (index < 0 || static_cast<size_t>(index) >= audioFiles_.size() || isProcessing_) return;
    audioFiles_.erase(audioFiles_.begin() + index);
    emit fileRemoved(index);
    emit audioFilesChanged();
    ReferenceTrackManager::shared()->clearTrackProfiles();
}

void BatchProcessor::toggleSelection(int index) {
    if (index < 0 || static_cast<size_t>(index) >= audioFiles_.size()) return;
    audioFiles_[static_cast<size_t>(index)].isSelected = !audioFiles_[static_cast<size_t>(index)].isSelected;
    notifyChanged(static_cast<size_t>(index));
}

void BatchProcessor::clearFiles() {
    if (isProcessing_) return;
    addQueue_.clear();
    adding_.clear();
    ++addGeneration_;  // measurements still running are dropped when they come back
    if (pendingAdds_ != 0) {
        pendingAdds_ = 0;
        emit isAddingFilesChanged();
        emit addFilesFinished();
    }
    if (audioFiles_.empty()) return;
    audioFiles_.clear();
    emit filesReset();
    emit audioFilesChanged();
}

void BatchProcessor::setAudioFile(int index, AudioFile song) {
    if (index < 0 || static_cast<size_t>(index) >= audioFiles_.size() || isProcessing_) return;
    audioFiles_[static_cast<size_t>(index)] = std::move(song);
    notifyChanged(static_cast<size_t>(index));
}

void BatchProcessor::setIsFinalMode(bool value) {
    if (value == isFinalMode_) return;
    isFinalMode_ = value;
    emit isFinalModeChanged();
}

void BatchProcessor::adoptOriginalsAsMasters() {
    if (isProcessing_) return;
    for (size_t i = 0; i < audioFiles_.size(); ++i) {
        if (audioFiles_[i].masterURL) continue;
        audioFiles_[i].masterURL = audioFiles_[i].url;
        emit fileChanged(static_cast<int>(i));
    }
    emit audioFilesChanged();
}

void BatchProcessor::cancel() {
    std::lock_guard lock(cancellation_->cancellationLock);
    cancellation_->_isCancelled = true;
}

bool BatchProcessor::isCancelled() const {
    std::lock_guard lock(cancellation_->cancellationLock);
    return cancellation_->_isCancelled;
}

void BatchProcessor::setMasteringOperation(MasteringOperation operation) {
    masteringOperation_ = std::move(operation);
}

void BatchProcessor::setCurrentIndex(int index) {
    if (index == currentIndex_) return;
    currentIndex_ = index;
    emit currentIndexChanged();
}

void BatchProcessor::setProgress(double currentFile, double overall) {
    if (currentFile != currentFileProgress_) {
        currentFileProgress_ = currentFile;
        emit currentFileProgressChanged();
    }
    if (overall != overallProgress_) {
        overallProgress_ = overall;
        emit overallProgressChanged();
    }
}

void BatchProcessor::setIsProcessing(bool value) {
    if (value == isProcessing_) return;
    isProcessing_ = value;
    emit isProcessingChanged();
}

void BatchProcessor::processFiles(const QString& presetName, bool withEQ, bool withReference,
                                  float targetLUFS, float limitThreshold) {
    if (isProcessing_) return;
    setIsProcessing(true);
    setProgress(0.0, 0.0);
    {
        std::lock_guard lock(cancellation_->cancellationLock);
        cancellation_->_isCancelled = false;
    }
    if (presetName != usedPresetName_) {
        usedPresetName_ = presetName;
        emit usedPresetNameChanged();
    }
    if (!presetName.isEmpty()) store_.setString(keys::kLastUsedPreset, presetName.toStdString());

    batch_ = std::make_unique<Batch>();
    batch_->generation = ++batchGeneration_;
    batch_->withEQ = withEQ;
    batch_->withReference = withReference;
    batch_->finalBatch = withEQ || withReference;
    batch_->settings = {targetLUFS, limitThreshold};
    batch_->exportM4A = savedExportFormat(store_) == ExportFormat::m4a;
    if (batch_->finalBatch) batch_->eq = loadEQSettings(keys::kActiveEQSettings, store_);

    if (batch_->finalBatch && !isFinalMode_) {
        isFinalMode_ = true;
        emit isFinalModeChanged();
    }
    for (size_t i = 0; i < audioFiles_.size(); ++i) {
        const AudioFile& f = audioFiles_[i];
        if (!f.isSelected) continue;
        if (batch_->finalBatch ? f.masterURL.has_value()
                               : f.processingStatus == ProcessingStatus::pending) {
            batch_->work.push_back(i);
        }
    }
    startEntry(0);
}

void BatchProcessor::startEntry(size_t k) {
    Batch& batch = *batch_;
    if (k >= batch.work.size() || isCancelled()) {
        endBatch();
        return;
    }
    batch.current = k;
    const size_t index = batch.work[k];
    const double n = static_cast<double>(batch.work.size());
    setCurrentIndex(static_cast<int>(index));
    AudioFile& song = audioFiles_[index];
    song.processingStatus = ProcessingStatus::processing;
    notifyChanged(index);

    QPointer<BatchProcessor> self(this);
    const uint64_t generation = batch.generation;
    auto updater = ProgressUpdater::create([self, k, n, generation](double v) {
        onMainThread([self, k, n, v, generation] {
            // Late values of a song that has already finished are dropped.
            if (!self || !self->isRunning(generation, k)) return;
            const double file = 0.9 * v;
            self->setProgress(file, (file + static_cast<double>(k)) / n);
        });
    });

    const std::optional<fs::path> input = batch.finalBatch ? song.masterURL : std::optional(song.url);
    if (!input) {
        finishEntry(k, Error{errc::kApp, errc::kFileMissing, "Output file was not created"});
        return;
    }
    if (!fileExists(*input)) {
        finishEntry(k, Error{errc::kApp, errc::kFileMissing,
                             "Input file not found at path: " + input->string()});
        return;
    }

    // Matching a final rendering to the loaded reference.
    std::optional<std::vector<float>> referenceSpectrum;
    if (batch.withEQ && batch.eq && batch.eq->isEnabled) {
        auto* reference = ReferenceTrackManager::shared();
        const auto& spectrum = reference->referenceSpectrumValues();
        if (reference->currentProfile() &&
            std::any_of(spectrum.begin(), spectrum.end(), [](float v) { return v != 0.0f; })) {
            referenceSpectrum = spectrum;
        }
    }

    std::weak_ptr<Cancellation> cancellation = cancellation_;
    AudioProcessor::CancellationCheck isCancelled = [cancellation] {
        auto flag = cancellation.lock();
        if (!flag) return false;
        std::lock_guard lock(flag->cancellationLock);
        return flag->_isCancelled;
    };

    runOnWorker(
        [self, k, n, input = *input, settings = batch.settings, withEQ = batch.withEQ,
         withReference = batch.withReference, exportM4A = batch.exportM4A, eq = batch.eq,
         referenceSpectrum, updater, isCancelled, generation,
         operation = masteringOperation_]() mutable {
            auto run = [&]() -> Result<DJMasteringResult> {
                if (referenceSpectrum && eq) {
                    auto songSpectrum = analyze12BandSpectrum(input);
                    if (!songSpectrum) return songSpectrum.error();
                    updater->update(0.3);
                    if (referenceSpectrum->size() >= 12 && songSpectrum->size() >= 12 &&
                        eq->bands.size() >= 12) {
                        for (size_t i = 0; i < 12; ++i) {
                            eq->bands[i].gain = (*referenceSpectrum)[i] - songSpectrum.value()[i];
                        }
                    }
                }
                if (withReference) {
                    auto stats = analyzeAudioFile(input);
                    if (!stats) return stats.error();
                    return DJMasteringResult{input, stats.value()};
                }
                auto result = operation(input, settings, withEQ, withEQ ? eq : std::nullopt,
                                        updater, isCancelled);
                if (!result || !exportM4A) return result;
                onMainThread([self, k, n, generation] {
                    if (!self || !self->isRunning(generation, k)) return;
                    self->setProgress(0.9, (0.9 + static_cast<double>(k)) / n);
                });
                auto converted = AudioConverter::convert(result->outputURL, ExportFormat::m4a);
                if (!converted) return converted.error();
                return DJMasteringResult{converted.value(), result->stats, result->bpm,
                                         result->passes, result->firstGainDb, result->inputStats};
            };
            Result<DJMasteringResult> result = run();
            onMainThread([self, k, generation, result = std::move(result)]() mutable {
                if (self && self->isRunning(generation, k)) self->finishEntry(k, std::move(result));
            });
        });
}

bool BatchProcessor::isRunning(uint64_t generation, size_t k) const {
    return batch_ && batch_->generation == generation && batch_->current == k && isProcessing_;
}

void BatchProcessor::finishEntry(size_t k, Result<DJMasteringResult> result) {
    if (!batch_) return;
    Batch& batch = *batch_;
    const size_t index = batch.work[k];
    AudioFile& song = audioFiles_[index];
    if (result) {
        const double n = static_cast<double>(batch.work.size());
        setProgress(1.0, static_cast<double>(k + 1) / n);
        if (batch.finalBatch) {
            song.finalURL = result->outputURL;
            song.finalStats = result->stats;
        } else {
            song.masterURL = result->outputURL;
            song.masterStats = result->stats;
            song.masterBPM = result->bpm;
            song.masterPasses = result->passes;
            song.masterFirstGainDb = result->firstGainDb;
            // A song added without measuring gets its figures from the mastering itself; one
            // measured on import (its window only) gets the whole song's delivery figures.
            if (result->inputStats) {
                if (!song.originalStats) {
                    song.originalStats = result->inputStats;
                } else if (result->inputStats->hasDeliveryFigures()) {
                    song.originalStats->truePeak = result->inputStats->truePeak;
                    song.originalStats->lufsR128 = result->inputStats->lufsR128;
                }
            }
        }
        song.processingStatus = ProcessingStatus::completed;
        song.failure.reset();
        notifyChanged(index);
        emit songFinished(static_cast<int>(index), true);
    } else {
        song.processingStatus = ProcessingStatus::failed;
        song.failure = result.error();
        notifyChanged(index);
        emit songFinished(static_cast<int>(index), false);
    }
    startEntry(k + 1);
}

void BatchProcessor::endBatch() {
    batch_.reset();
    setIsProcessing(false);
    setProgress(currentFileProgress_, 1.0);
    emit batchFinished();
}

}  // namespace korvanta
