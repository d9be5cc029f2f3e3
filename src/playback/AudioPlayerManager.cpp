#include "playback/AudioPlayerManager.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "platform/PreferenceKeys.h"
#include "platform/SerialExecutor.h"
#include "playback/QAudioSinkOutput.h"

namespace korvanta {

namespace {

std::optional<PlayerEnvironment>& pendingSharedEnvironment() {
    static std::optional<PlayerEnvironment> environment;
    return environment;
}

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

AudioPlayerManager* AudioPlayerManager::shared() {
    static AudioPlayerManager* instance = [] {
        PlayerEnvironment environment;
        if (auto& pending = pendingSharedEnvironment()) environment = std::move(*pending);
        return new AudioPlayerManager(std::move(environment));
    }();
    return instance;
}

void AudioPlayerManager::installShared(PlayerEnvironment environment) {
    pendingSharedEnvironment() = std::move(environment);
}

AudioPlayerManager::AudioPlayerManager(PlayerEnvironment environment, QObject* parent)
    : QObject(parent),
      output_(environment.output ? std::move(environment.output) : makeDefaultAudioOutput()),
      engine_(environment.engine ? *environment.engine : AudioEngine::shared()),
      store_(environment.store ? *environment.store : sharedPreferences()),
      clock_(environment.clock ? std::move(environment.clock) : std::function<double()>(&steadySeconds)),
      background_(std::move(environment.background)) {
    if (!background_) {
        auto worker = SerialExecutor::create("playback.chunks");
        background_ = [worker](std::function<void()> job) { worker->async(std::move(job)); };
    }
    output_->setDeviceLostHandler([this] { deviceLost(); });
    output_->setVolume(1.0f);
    startEngine();
}

AudioPlayerManager::~AudioPlayerManager() {
    stop();
    if (output_->isRunning()) output_->stopEngine();
}

void AudioPlayerManager::postToMain(std::weak_ptr<int> alive, std::function<void()> job) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alive, job = std::move(job)] {
            if (alive.lock()) job();
        },
        Qt::QueuedConnection);
}

// --- Published values ------------------------------------------------------------------------

#define KORVANTA_PLAYER_SETTER(name, type, field, signal) \
    void AudioPlayerManager::name(type value) {           \
        if (field == value) return;                       \
        field = value;                                    \
        emit signal();                                    \
    }
KORVANTA_PLAYER_SETTER(setPlaybackState, PlaybackState, playbackState_, playbackStateChanged)
KORVANTA_PLAYER_SETTER(setCurrentProgress, float, currentProgress_, currentProgressChanged)
KORVANTA_PLAYER_SETTER(setDuration, double, duration_, durationChanged)
KORVANTA_PLAYER_SETTER(setCompensation, float, currentCompensationDB_, currentCompensationDBChanged)
KORVANTA_PLAYER_SETTER(setNeededGainAdjustment, float, neededGainAdjustment_, neededGainAdjustmentChanged)
KORVANTA_PLAYER_SETTER(setIsEngineReady, bool, isEngineReady_, isEngineReadyChanged)
KORVANTA_PLAYER_SETTER(setCurrentFileLUFS, float, currentFileLUFS_, currentFileLUFSChanged)
KORVANTA_PLAYER_SETTER(setCurrentFilePeak, float, currentFilePeak_, currentFilePeakChanged)
#undef KORVANTA_PLAYER_SETTER

void AudioPlayerManager::setOutputGainDB(float gainDB) {
    output_->setVolume(std::pow(10.0f, gainDB / 20.0f));
    if (outputGainDB_ == gainDB) return;
    outputGainDB_ = gainDB;
    emit outputGainDBChanged();
}

int64_t AudioPlayerManager::processingGeneration() const {
    std::lock_guard lock(generationLock_);
    return processingGeneration_;
}

// --- Engine and loading ----------------------------------------------------------------------

void AudioPlayerManager::startEngine() {
    const AudioFormat format = audioFile_ ? audioFile_->processingFormat() : AudioFormat{44100.0, 2};
    setIsEngineReady(output_->start(format));
}

void AudioPlayerManager::deviceLost() {
    stop();
    setIsEngineReady(false);
}

void AudioPlayerManager::loadAudio(const QUrl& url) {
    stopProgressTimer();
    stop();
    loadedUrl_ = url;
    audioFile_.reset();
    totalFrameCount_ = 0;
    setDuration(0.0);
    setCurrentProgress(0.0f);
    currentSeekPosition_ = 0.0;
    playbackStartTime_.reset();
    // Opening may decode a whole compressed stream to count its frames: off the main thread.
    const uint64_t serial = ++loadSerial_;
    loading_ = true;
    const std::filesystem::path path =
        (url.isLocalFile() ? url.toLocalFile() : url.toString()).toStdString();
    std::weak_ptr<int> alive = alive_;
    background_([this, alive, path, serial] {
        auto opened = SharedAudioFile::open(path);
        std::shared_ptr<SharedAudioFile> file = opened ? std::move(opened).value() : nullptr;
        postToMain(alive, [this, serial, file] { fileOpened(serial, file); });
    });
}

void AudioPlayerManager::fileOpened(uint64_t serial, std::shared_ptr<SharedAudioFile> file) {
    if (serial != loadSerial_) return;  // another file was asked for since
    loading_ = false;
    const bool playRequested = std::exchange(playWhenLoaded_, false);
    if (!file) return;  // nothing is loaded: duration 0, play does nothing
    audioFile_ = std::move(file);
    totalFrameCount_ = static_cast<uint32_t>(
        std::clamp<int64_t>(audioFile_->length(), 0, std::numeric_limits<uint32_t>::max()));
    actualSampleRate_ = audioFile_->processingFormat().sampleRate;
    setDuration(actualSampleRate_ > 0 ? totalFrameCount_ / actualSampleRate_ : 0.0);
    // The output reopens the device only when the format differs from the one it runs with.
    startEngine();
    emit audioLoaded();
    if (playRequested) play();
}

// --- Transport -------------------------------------------------------------------------------

void AudioPlayerManager::play() {
    if (loading_) {
        playWhenLoaded_ = true;  // starts as soon as the file is open
        return;
    }
    // A device that came back since the last failure is taken up again.
    if (!isEngineReady_) startEngine();
    if (!isEngineReady_ || !audioFile_ || totalFrameCount_ == 0) return;
    if (!output_->isRunning()) {
        startEngine();
        if (!isEngineReady_) return;
    }
    if (playbackState_ == PlaybackState::paused) {
        output_->play();
        setPlaybackState(PlaybackState::playing);
        playbackStartTime_ = clock_() - currentSeekPosition_;
        startProgressTimer();
        return;
    }
    startPlaybackFromCurrentPosition();
}

void AudioPlayerManager::stopNode() {
    output_->stop();
    ++run_;
    chunkedRun_ = false;
    chunksQueued_ = 0;
    chunkInFlight_ = false;
    cursor_ = {};
}

void AudioPlayerManager::startPlaybackFromCurrentPosition() {
    if (!audioFile_) return;
    stopNode();
    const auto startFrame = static_cast<int64_t>(currentSeekPosition_ * actualSampleRate_);
    const auto remainingFrames = static_cast<uint32_t>(static_cast<int64_t>(totalFrameCount_) - startFrame);
    if (startFrame < 0 || startFrame >= audioFile_->length() || remainingFrames == 0) return;

    const EQSettings& s = currentEQSettings_;
    const bool chunked = !isPlayingOriginal && (s.isEnabled || (s.stereoEnhancementEnabled && s.stereoWidth > 1.0f));
    if (chunked) {
        chunkedRun_ = true;
        scheduleFirstChunk(startFrame, remainingFrames, kChunkFrames);
    } else {
        output_->scheduleSegment(audioFile_, startFrame, remainingFrames);
    }
    output_->play();
    setPlaybackState(PlaybackState::playing);
    playbackStartTime_ = clock_() - currentSeekPosition_;
    startProgressTimer();
}

void AudioPlayerManager::pause() {
    playWhenLoaded_ = false;
    if (playbackState_ != PlaybackState::playing) return;
    output_->pause();
    setPlaybackState(PlaybackState::paused);
    if (playbackStartTime_) {
        currentSeekPosition_ = clock_() - *playbackStartTime_;
        setCurrentProgress(duration_ > 0 ? float(currentSeekPosition_ / duration_) : 0.0f);
    }
    stopProgressTimer();
}

void AudioPlayerManager::stop() {
    playWhenLoaded_ = false;
    stopNode();
    setPlaybackState(PlaybackState::stopped);
    setCurrentProgress(0.0f);
    currentSeekPosition_ = 0.0;
    playbackStartTime_.reset();
    stopProgressTimer();
    engine_.resetFilterStates();
    setOutputGainDB(0.0f);
    isPlayingOriginal = false;
    isPlayingProcessedFile = false;
    setCompensation(0.0f);
}

void AudioPlayerManager::seek(float fraction) {
    fraction = std::clamp(fraction, 0.0f, 1.0f);
    if (std::isnan(fraction)) fraction = 0.0f;
    currentSeekPosition_ = duration_ * fraction;
    setCurrentProgress(fraction);
    if (playbackState_ != PlaybackState::playing) return;
    stopNode();
    {
        std::lock_guard lock(generationLock_);
        ++processingGeneration_;
    }
    startPlaybackFromCurrentPosition();
}

// --- Chunks ----------------------------------------------------------------------------------

void AudioPlayerManager::scheduleFirstChunk(int64_t startFrame, uint32_t remainingFrames, uint32_t chunkSize) {
    int64_t generation;
    {
        std::lock_guard lock(generationLock_);
        generation = ++processingGeneration_;
    }
    prepareChunk(ChunkCursor{audioFile_, startFrame, remainingFrames, chunkSize, generation, run_, true});
}

void AudioPlayerManager::scheduleNextChunk(const ChunkCursor& cursor) {
    const int64_t generation = processingGeneration();
    if (chunkInFlight_ || chunksQueued_ >= 2 || !cursor.file) return;
    if (cursor.remainingFrames == 0 || cursor.file->length() <= cursor.startFrame ||
        playbackState_ == PlaybackState::stopped || generation != cursor.generation || cursor.run != run_) {
        return;
    }
    prepareChunk(cursor);
}

void AudioPlayerManager::prepareChunk(const ChunkCursor& cursor) {
    chunkInFlight_ = true;
    const EQSettings settings = currentEQSettings_;
    const bool playingOriginal = isPlayingOriginal;
    const bool playingProcessed = isPlayingProcessedFile;
    const bool withOriginalEQ = store_.boolValue(keys::kProcessedWithOriginalEQ).value_or(false);
    AudioEngine& engine = engine_;
    std::weak_ptr<int> alive = alive_;
    auto job = [this, alive, cursor, settings, playingOriginal, playingProcessed, withOriginalEQ, &engine] {
        PreparedChunk chunk;
        const auto& file = *cursor.file;
        const auto count = static_cast<uint32_t>(std::min<int64_t>(
            std::min(cursor.remainingFrames, cursor.chunkSize), file.length() - cursor.startFrame));
        if (auto buffer = std::shared_ptr<PcmBuffer>(PcmBuffer::allocate(file.processingFormat(), count))) {
            if (auto status = cursor.file->read(cursor.startFrame, *buffer, count); !status) {
                std::printf("%s%s\n", cursor.first ? "Failed to schedule audio buffer: " : "Failed to process audio chunk: ",
                            status.error().description().c_str());
                std::fflush(stdout);
            } else {
                chunk = processBuffer(std::move(buffer), settings, playingOriginal, playingProcessed,
                                      withOriginalEQ, engine);
                chunk.frameCount = count;
            }
        }
        postToMain(alive, [this, cursor, chunk] { chunkPrepared(cursor, chunk); });
    };
    background_(std::move(job));
}

AudioPlayerManager::PreparedChunk AudioPlayerManager::processBuffer(
    std::shared_ptr<PcmBuffer> buffer, const EQSettings& settings, bool playingOriginal,
    bool playingProcessed, bool processedWithOriginalEQ, AudioEngine& engine) {
    if (playingProcessed && processedWithOriginalEQ) return {std::move(buffer), 0.0f, 0};
    if (settings.isEnabled && !playingOriginal && !playingProcessed) {
        return {engine.processAudioBuffer(std::move(buffer), settings, true, false), settings.masterGain, 0};
    }
    return {std::move(buffer), 0.0f, 0};
}

void AudioPlayerManager::chunkPrepared(const ChunkCursor& cursor, const PreparedChunk& chunk) {
    if (cursor.run != run_) return;  // the node was stopped since: this chunk belongs to no run
    chunkInFlight_ = false;
    if (cursor.generation != processingGeneration() || playbackState_ == PlaybackState::stopped) return;
    if (!chunk.buffer) return;  // the run stops being fed
    setCompensation(chunk.compensationDB);
    ++chunksQueued_;
    const uint64_t run = cursor.run;
    const int64_t generation = cursor.generation;
    std::weak_ptr<int> alive = alive_;
    output_->scheduleBuffer(chunk.buffer, [this, alive, run, generation] {
        postToMain(alive, [this, run, generation] { chunkConsumed(run, generation); });
    });
    if (cursor.first && playbackState_ == PlaybackState::playing) output_->play();
    cursor_ = ChunkCursor{cursor.file, cursor.startFrame + chunk.frameCount,
                          cursor.remainingFrames - chunk.frameCount, cursor.chunkSize, generation, run, false};
    // One chunk stays queued ahead of the one playing.
    scheduleNextChunk(cursor_);
}

void AudioPlayerManager::chunkConsumed(uint64_t run, int64_t generation) {
    if (run != run_ || generation != cursor_.generation) return;
    --chunksQueued_;
    scheduleNextChunk(cursor_);
}

// --- Progress --------------------------------------------------------------------------------

void AudioPlayerManager::startProgressTimer() {
    stopProgressTimer();
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(kProgressIntervalMs);
    connect(progressTimer_, &QTimer::timeout, this, &AudioPlayerManager::updateProgress);
    progressTimer_->start();
}

void AudioPlayerManager::stopProgressTimer() {
    if (!progressTimer_) return;
    progressTimer_->stop();
    progressTimer_->deleteLater();
    progressTimer_ = nullptr;
}

void AudioPlayerManager::updateProgress() {
    if (playbackState_ != PlaybackState::playing || duration_ <= 0 || !playbackStartTime_) return;
    const double position = std::max(0.0, std::min(clock_() - *playbackStartTime_, duration_));
    setCurrentProgress(float(position / duration_));
    if (position >= duration_ - 0.1) postToMain(alive_, [this] { handlePlaybackFinished(); });
}

void AudioPlayerManager::handlePlaybackFinished() {
    if (playbackState_ != PlaybackState::playing) return;
    setPlaybackState(PlaybackState::stopped);
    setCurrentProgress(0.0f);
    currentSeekPosition_ = 0.0;
    playbackStartTime_.reset();
    stopProgressTimer();
    setCompensation(0.0f);
}

// --- Settings --------------------------------------------------------------------------------

void AudioPlayerManager::updateEQSettings(const EQSettings& settings) {
    const bool wasEnabled = currentEQSettings_.isEnabled;
    currentEQSettings_ = settings;
    updateGainAdjustment();
    if (wasEnabled == settings.isEnabled) return;
    engine_.resetFilterStates();
    if (playbackState_ != PlaybackState::playing || isPlayingOriginal || isPlayingProcessedFile) return;
    if (playbackStartTime_) {
        currentSeekPosition_ = std::min(clock_() - *playbackStartTime_, duration_);
        setCurrentProgress(duration_ > 0 ? float(currentSeekPosition_ / duration_) : 0.0f);
    }
    stopNode();
    startPlaybackFromCurrentPosition();
}

void AudioPlayerManager::updateGainAdjustment() {
    const EQSettings& s = currentEQSettings_;
    float eqContribution = 0.0f;
    if (s.isEnabled) {
        for (const EQBand& band : s.bands) eqContribution += (band.gain + 5.0f) * 0.1f;
    }
    setNeededGainAdjustment(-10.0f - (currentFileLUFS_ + s.masterGain + eqContribution));
}

}  // namespace korvanta
