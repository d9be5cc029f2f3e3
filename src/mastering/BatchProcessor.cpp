#include "mastering/BatchProcessor.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QUuid>
#include <QVariantMap>

#include <algorithm>

#include "platform/PreferenceKeys.h"
#include "engine/LoudnessMeter.h"
#include "export/AudioConverter.h"
#include "export/ExportFormat.h"
#include "platform/AudioFileReader.h"
#include "platform/FileOperations.h"
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

QVariantMap statsVariant(const std::optional<AudioStats>& stats) {
    if (!stats) return {};
    return {{"lufs", stats->lufs}, {"peak", stats->peak}, {"rms", stats->rms}};
}

QString pathText(const std::optional<fs::path>& path) {
    return path ? QString::fromStdString(path->string()) : QString();
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

void BatchProcessor::setSessionGlobalArtwork(const QByteArray& imageBytes) {
    if (imageBytes == sessionGlobalArtwork_) return;
    sessionGlobalArtwork_ = imageBytes;
    emit sessionGlobalArtworkChanged();
}

QVariantList BatchProcessor::audioFilesVariant() const {
    QVariantList list;
    for (const auto& f : audioFiles_) {
        QVariantMap song{
            {"id", QString::fromStdString(f.id)},
            {"url", QString::fromStdString(f.url.string())},
            {"filename", QString::fromStdString(f.filename)},
            {"duration", f.duration ? QVariant(*f.duration) : QVariant()},
            {"originalStats", statsVariant(f.originalStats)},
            {"masterStats", statsVariant(f.masterStats)},
            {"finalStats", statsVariant(f.finalStats)},
            {"masterURL", pathText(f.masterURL)},
            {"finalURL", pathText(f.finalURL)},
            {"isSelected", f.isSelected},
            {"failure", f.failure ? QString::fromStdString(f.failure->description()) : QString()},
            {"processingStatus", QString::fromLatin1(processingStatusName(f.processingStatus))},
        };
        list.push_back(song);
    }
    return list;
}

void BatchProcessor::addFiles(const QStringList& paths) {
    std::vector<fs::path> list;
    for (const auto& p : paths) list.emplace_back(p.toStdString());
    addFiles(list);
}

void BatchProcessor::addFiles(const std::vector<fs::path>& paths) {
    for (const auto& path : paths) addQueue_.push_back(path);
    if (pendingAdds_ == 0 && !addQueue_.empty()) {
        pendingAdds_ = 1;
        emit isAddingFilesChanged();
        addNext();
    } else if (pendingAdds_ == 0) {
        emit addFilesFinished();
    }
}

void BatchProcessor::addNext() {
    // Drop paths already in the list (a path queued twice is dropped at its second turn).
    while (!addQueue_.empty()) {
        const fs::path candidate = normalised(addQueue_.front());
        const bool duplicate = std::any_of(audioFiles_.begin(), audioFiles_.end(),
                                           [&](const AudioFile& f) { return normalised(f.url) == candidate; });
        if (!duplicate) break;
        addQueue_.erase(addQueue_.begin());
    }
    if (addQueue_.empty()) {
        pendingAdds_ = 0;
        emit isAddingFilesChanged();
        emit addFilesFinished();
        return;
    }
    const fs::path path = addQueue_.front();
    addQueue_.erase(addQueue_.begin());

    QPointer<BatchProcessor> self(this);
    QThreadPool::globalInstance()->start([self, path] {
        std::optional<AudioFileDetails> details;
        if (auto reader = AudioFileReader::open(path)) {
            const AudioFormat format = reader.value()->processingFormat();
            AudioFileDetails d;
            d.duration = static_cast<double>(reader.value()->length()) / format.sampleRate;
            reader.value().reset();
            if (auto stats = analyzeAudioFile(path)) d.stats = stats.value();
            details = d;
        }
        onMainThread([self, path, details] {
            if (!self) return;
            if (details) {
                const fs::path key = normalised(path);
                const bool duplicate =
                    std::any_of(self->audioFiles_.begin(), self->audioFiles_.end(),
                                [&](const AudioFile& f) { return normalised(f.url) == key; });
                if (!duplicate) {
                    AudioFile song;
                    song.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
                    song.url = path;
                    song.filename = path.filename().string();
                    song.duration = details->duration;
                    song.originalStats = details->stats;
                    self->audioFiles_.push_back(std::move(song));
                    emit self->audioFilesChanged();
                }
            }
            self->addNext();
        });
    });
}

void BatchProcessor::removeFile(int index) {
    if (index < 0 || static_cast<size_t>(index) >= audioFiles_.size() || isProcessing_) return;
    audioFiles_.erase(audioFiles_.begin() + index);
    emit audioFilesChanged();
    ReferenceTrackManager::shared()->clearTrackProfiles();
}

void BatchProcessor::toggleSelection(int index) {
    if (index < 0 || static_cast<size_t>(index) >= audioFiles_.size()) return;
    audioFiles_[static_cast<size_t>(index)].isSelected = !audioFiles_[static_cast<size_t>(index)].isSelected;
    emit audioFilesChanged();
}

void BatchProcessor::clearFiles() {
    if (isProcessing_ || audioFiles_.empty()) return;
    audioFiles_.clear();
    emit audioFilesChanged();
}

void BatchProcessor::adoptOriginalsAsMasters() {
    if (isProcessing_) return;
    for (auto& song : audioFiles_) {
        if (!song.masterURL) song.masterURL = song.url;
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
    emit audioFilesChanged();

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

    QThreadPool::globalInstance()->start(
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
                                         result->passes};
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
        }
        song.processingStatus = ProcessingStatus::completed;
        song.failure.reset();
        emit audioFilesChanged();
        emit songFinished(static_cast<int>(index), true);
    } else {
        song.processingStatus = ProcessingStatus::failed;
        song.failure = result.error();
        emit audioFilesChanged();
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
