// The preview player: one song at a time, the original or a rendering, with the live equaliser
// on a master, a wall-clock progress figure and the loudness figures the results screen shows.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "analysis/PlaybackTap.h"
#include "engine/AudioEngine.h"
#include "eq/EQSettings.h"
#include "platform/Preferences.h"
#include "playback/AudioOutput.h"
#include "playback/PlaybackState.h"
#include "playback/SharedAudioFile.h"

namespace korvanta {

// Everything the player depends on, so that tests can hand in fakes.
struct PlayerEnvironment {
    std::unique_ptr<AudioOutput> output;  // null: the machine's default device
    AudioEngine* engine = nullptr;        // null: AudioEngine::shared()
    Preferences* store = nullptr;         // null: sharedPreferences()
    // Seconds on a monotonic clock; empty: the steady clock.
    std::function<double()> clock;
    // Runs chunk reading and equalising off the main thread; empty: a serial worker thread.
    // Tests run the job at once.
    std::function<void(std::function<void()>)> background;
};

// Main thread only, except where a member says otherwise.
class AudioPlayerManager : public QObject, public PlaybackTap {
    Q_OBJECT
    // "stopped", "playing" or "paused".
    Q_PROPERTY(QString playbackState READ playbackStateText NOTIFY playbackStateChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY playbackStateChanged)
    Q_PROPERTY(float currentProgress READ currentProgress NOTIFY currentProgressChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(float currentCompensationDB READ currentCompensationDB NOTIFY currentCompensationDBChanged)
    Q_PROPERTY(float currentFileLUFS READ currentFileLUFS NOTIFY currentFileLUFSChanged)
    Q_PROPERTY(float neededGainAdjustment READ neededGainAdjustment NOTIFY neededGainAdjustmentChanged)
    Q_PROPERTY(float currentFilePeak READ currentFilePeak NOTIFY currentFilePeakChanged)
    Q_PROPERTY(bool isEngineReady READ isEngineReady NOTIFY isEngineReadyChanged)
    // Gain of the output in dB (level matching); 0 after stop.
    Q_PROPERTY(float outputGainDB READ outputGainDB NOTIFY outputGainDBChanged)

public:
    static constexpr uint32_t kChunkFrames = 65536;
    static constexpr int kProgressIntervalMs = 100;

    // The application's player, over the default sound device; created on first use.
    static AudioPlayerManager* shared();
    // Makes shared() return a player over `environment` (before its first use: the screenshot
    // tool). Main thread.
    static void installShared(PlayerEnvironment environment);

    explicit AudioPlayerManager(PlayerEnvironment environment, QObject* parent = nullptr);
    ~AudioPlayerManager() override;

    PlaybackState playbackState() const { return playbackState_; }
    QString playbackStateText() const { return QString::fromLatin1(playbackStateName(playbackState_)); }
    bool isPlaying() const { return playbackState_ == PlaybackState::playing; }
    float currentProgress() const { return currentProgress_; }
    double duration() const { return duration_; }
    float currentCompensationDB() const { return currentCompensationDB_; }
    float currentFileLUFS() const { return currentFileLUFS_; }
    void setCurrentFileLUFS(float lufs);
    float neededGainAdjustment() const { return neededGainAdjustment_; }
    float currentFilePeak() const { return currentFilePeak_; }
    void setCurrentFilePeak(float peak);
    bool isEngineReady() const { return isEngineReady_; }
    float outputGainDB() const { return outputGainDB_; }
    // Sets the output's volume to `gainDB` (0 dB after every stop). Changes nothing scheduled.
    void setOutputGainDB(float gainDB);

    const EQSettings& currentEQSettings() const { return currentEQSettings_; }
    // What the vectorscope follows.
    bool isPlayingNow() const override { return isPlaying(); }
    float playbackProgress() const override { return currentProgress_; }
    const EQSettings& liveEQSettings() const override { return currentEQSettings_; }
    bool isPlayingOriginal = false;
    bool isPlayingProcessedFile = false;
    double currentSeekPosition() const { return currentSeekPosition_; }
    uint32_t totalFrameCount() const { return totalFrameCount_; }
    double actualSampleRate() const { return actualSampleRate_; }
    // The loaded file (null when none or when opening failed). Any thread may read through it.
    std::shared_ptr<SharedAudioFile> audioFile() const { return audioFile_; }
    QUrl loadedUrl() const { return loadedUrl_; }
    int64_t processingGeneration() const;
    // True while the current run is fed in equalised chunks.
    bool isChunkedRun() const { return chunkedRun_; }
    AudioOutput& output() { return *output_; }

    // Stops, then opens the file on the worker; position 0, state stopped. The duration is 0 until
    // the file is open (audioLoaded()); a file that does not open leaves nothing loaded.
    Q_INVOKABLE void loadAudio(const QUrl& url);
    // True from loadAudio until its file is open (or failed to open).
    bool isLoading() const { return loading_; }
    // Resumes a paused run or starts one at the current position; asked while the file is still
    // being opened, it starts once the file is open (unless stop, pause or another load comes
    // first).
    Q_INVOKABLE void play();
    Q_INVOKABLE void pause();
    Q_INVOKABLE void stop();
    // `fraction` of the duration, clamped to [0, 1]; restarts the run when playing.
    Q_INVOKABLE void seek(float fraction);
    void updateEQSettings(const EQSettings& settings);
    Q_INVOKABLE void updateGainAdjustment();

    // One tick of the progress timer (the timer calls it every 0.1 s).
    void updateProgress();

signals:
    void playbackStateChanged();
    void currentProgressChanged();
    void durationChanged();
    void currentCompensationDBChanged();
    void currentFileLUFSChanged();
    void neededGainAdjustmentChanged();
    void currentFilePeakChanged();
    void isEngineReadyChanged();
    void outputGainDBChanged();
    // The file of the last loadAudio is open.
    void audioLoaded();

private:
    // Where a chunked run goes on reading.
    struct ChunkCursor {
        std::shared_ptr<SharedAudioFile> file;
        int64_t startFrame = 0;
        uint32_t remainingFrames = 0;
        uint32_t chunkSize = kChunkFrames;
        int64_t generation = 0;
        uint64_t run = 0;
        bool first = false;
    };
    // What the worker hands back for one chunk.
    struct PreparedChunk {
        std::shared_ptr<PcmBuffer> buffer;  // null: the run stops being fed
        float compensationDB = 0.0f;
        uint32_t frameCount = 0;
    };

    void startEngine();
    void fileOpened(uint64_t serial, std::shared_ptr<SharedAudioFile> file);
    void startPlaybackFromCurrentPosition();
    void scheduleFirstChunk(int64_t startFrame, uint32_t remainingFrames, uint32_t chunkSize);
    void scheduleNextChunk(const ChunkCursor& cursor);
    void prepareChunk(const ChunkCursor& cursor);
    void chunkPrepared(const ChunkCursor& cursor, const PreparedChunk& chunk);
    void chunkConsumed(uint64_t run, int64_t generation);
    // The worker's half of processBuffer: the buffer to queue and the compensation it implies.
    static PreparedChunk processBuffer(std::shared_ptr<PcmBuffer> buffer, const EQSettings& settings,
                                       bool playingOriginal, bool playingProcessed,
                                       bool processedWithOriginalEQ, AudioEngine& engine);
    void startProgressTimer();
    void stopProgressTimer();
    void handlePlaybackFinished();
    void stopNode();
    void deviceLost();
    // Runs `job` on the main thread later unless `alive` (a player's alive_) has expired by
    // then. Any thread.
    static void postToMain(std::weak_ptr<int> alive, std::function<void()> job);

    void setPlaybackState(PlaybackState state);
    void setCurrentProgress(float progress);
    void setDuration(double duration);
    void setCompensation(float db);
    void setNeededGainAdjustment(float db);
    void setIsEngineReady(bool ready);

    std::unique_ptr<AudioOutput> output_;
    AudioEngine& engine_;
    Preferences& store_;
    std::function<double()> clock_;
    std::function<void(std::function<void()>)> background_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // expires with the player

    PlaybackState playbackState_ = PlaybackState::stopped;
    float currentProgress_ = 0.0f;
    double duration_ = 0.0;
    float currentCompensationDB_ = 0.0f;
    float currentFileLUFS_ = -14.0f;
    float neededGainAdjustment_ = 4.0f;
    float currentFilePeak_ = -3.0f;
    float outputGainDB_ = 0.0f;
    EQSettings currentEQSettings_;
    std::shared_ptr<SharedAudioFile> audioFile_;
    QUrl loadedUrl_;
    QTimer* progressTimer_ = nullptr;
    double currentSeekPosition_ = 0.0;
    bool isEngineReady_ = false;
    uint32_t totalFrameCount_ = 0;
    double actualSampleRate_ = 44100.0;
    std::optional<double> playbackStartTime_;
    mutable std::mutex generationLock_;
    int64_t processingGeneration_ = 0;  // guarded by generationLock_

    uint64_t loadSerial_ = 0;    // tells the last load's opening from earlier ones
    bool loading_ = false;
    bool playWhenLoaded_ = false;

    // Every stop of the node starts a new run number: a completion or a prepared chunk of an
    // earlier run never reaches the node again, whatever the generation says.
    uint64_t run_ = 0;
    bool chunkedRun_ = false;
    ChunkCursor cursor_;        // the next chunk of the current chunked run
    int chunksQueued_ = 0;      // on the node, not yet consumed
    bool chunkInFlight_ = false;  // a chunk is being read or equalised
};

}  // namespace korvanta
