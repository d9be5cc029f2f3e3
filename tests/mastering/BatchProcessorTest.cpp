#include "mastering/BatchProcessor.h"

#include <QSignalSpy>
#include "platform/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "engine/LoudnessMeter.h"
#include "eq/EQSettings.h"
#include "export/ExportFormat.h"
#include "platform/AudioFileReader.h"
#include "platform/TempFolder.h"
#include "reference/ReferenceTrackManager.h"
#include "reference/SpectralAnalyzer.h"
#include "support/QtTestSupport.h"
#include "support/TestAudio.h"

namespace korvanta {
namespace {

namespace fs = std::filesystem;
using test::Gate;
using test::waitUntil;
using Names = std::vector<std::string>;

// What the batch handed to the per-song operation.
struct Call {
    fs::path input;
    DJMasteringSettings settings;
    bool finalMode = false;
    std::optional<EQSettings> eq;
};

// Stands in for the pipeline: records each call and, unless a step is installed for the input's
// file name, "renders" by copying the input to "<stem>_master.wav" (or "_final.wav") in
// `outputFolder` with fixed figures.
class FakeMastering {
public:
    using Step = std::function<Result<DJMasteringResult>(const Call&, ProgressUpdater&,
                                                         const AudioProcessor::CancellationCheck&)>;

    explicit FakeMastering(fs::path outputFolder) : outputFolder_(std::move(outputFolder)) {}

    static constexpr AudioStats kStats{-9.5f, -0.4f, -11.0f};

    std::map<std::string, Step> steps;  // installed before a batch starts; read by the workers

    BatchProcessor::MasteringOperation operation() {
        return [this](const fs::path& input, const DJMasteringSettings& settings, bool finalMode,
                      const std::optional<EQSettings>& eq,
                      const std::shared_ptr<ProgressUpdater>& progress,
                      const AudioProcessor::CancellationCheck& isCancelled) {
            Call call{input, settings, finalMode, eq};
            {
                std::lock_guard lock(mutex_);
                calls_.push_back(call);
            }
            auto step = steps.find(input.filename().string());
            if (step != steps.end()) return step->second(call, *progress, isCancelled);
            return render(call);
        };
    }

    Result<DJMasteringResult> render(const Call& call) const {
        const fs::path output =
            outputFolder_ / (call.input.stem().string() + (call.finalMode ? "_final.wav" : "_master.wav"));
        std::error_code ec;
        fs::copy_file(call.input, output, fs::copy_options::overwrite_existing, ec);
        if (ec) return Error{"FakeMastering", 1, ec.message()};
        return DJMasteringResult{output, kStats, 128, 2};
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    Names calledNames() const {
        Names names;
        for (const auto& c : calls()) names.push_back(c.input.filename().string());
        return names;
    }

private:
    fs::path outputFolder_;
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

// Counts the processor's notifications and those that arrived off the main thread (direct
// connections, so that each handler runs on the emitting thread).
class MainThreadWatch {
public:
    void watch(BatchProcessor& processor) {
        using Signal = void (BatchProcessor::*)();
        for (Signal signal : {&BatchProcessor::audioFilesChanged, &BatchProcessor::currentIndexChanged,
                              &BatchProcessor::overallProgressChanged,
                              &BatchProcessor::currentFileProgressChanged,
                              &BatchProcessor::isProcessingChanged, &BatchProcessor::isFinalModeChanged,
                              &BatchProcessor::isAddingFilesChanged,
                              &BatchProcessor::usedPresetNameChanged, &BatchProcessor::addFilesFinished,
                              &BatchProcessor::batchFinished}) {
            QObject::connect(&processor, signal, &context_, [this] { note(); },
                             Qt::DirectConnection);
        }
        QObject::connect(&processor, &BatchProcessor::songFinished, &context_, [this] { note(); },
                         Qt::DirectConnection);
    }
    int seen() const { return seen_; }
    int offMainThread() const { return off_; }

private:
    void note() {
        ++seen_;
        if (!test::onMainThread()) ++off_;
    }
    QObject context_;
    std::atomic<int> seen_{0};
    std::atomic<int> off_{0};
};

class BatchProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        processor = std::make_unique<BatchProcessor>(store);
        processor->setMasteringOperation(fake.operation());
        watch.watch(*processor);
        finished = std::make_unique<QSignalSpy>(processor.get(), &BatchProcessor::batchFinished);
    }

    void TearDown() override {
        // Workers still running would outlive the fake operation and the scratch folder.
        release.open();
        workerPool().waitForDone();
        test::drainEvents();
        EXPECT_GT(watch.seen(), 0);
        EXPECT_EQ(watch.offMainThread(), 0) << "published fields change on the main thread only";
    }

    // A 1 kHz stereo sine in songs/`name`.
    fs::path writeSong(const std::string& name, float amplitude = 0.25f, double seconds = 0.5,
                       double sampleRate = 44100.0) {
        const fs::path path = songs.path() / name;
        test::writeWav(path, test::makeSine(sampleRate, 2, seconds, 1000.0, amplitude));
        return path;
    }
    fs::path writeNotAudio() {
        const fs::path path = songs.path() / "notes.wav";
        std::ofstream(path) << "not a RIFF file";
        return path;
    }

    void addAndWait(const std::vector<fs::path>& paths) {
        QSignalSpy added(processor.get(), &BatchProcessor::addFilesFinished);
        processor->addFiles(paths);
        ASSERT_TRUE(waitUntil([&] { return added.count() > 0; })) << "adding files never finished";
        ASSERT_FALSE(processor->isAddingFiles());
    }

    std::vector<fs::path> addSongs(int count) {
        std::vector<fs::path> paths;
        for (int i = 0; i < count; ++i) paths.push_back(writeSong("song" + std::to_string(i + 1) + ".wav"));
        addAndWait(paths);
        return paths;
    }

    // The song named `name` reports `updates`, then waits for `release` before it renders.
    void hold(const std::string& name, std::vector<double> updates = {}) {
        fake.steps[name] = [this, updates](const Call& call, ProgressUpdater& progress, const auto&) {
            for (double p : updates) progress.update(p);
            release.wait();
            return fake.render(call);
        };
    }

    void start(const QString& preset = {}, bool withEQ = false, bool withReference = false,
               float target = -10.0f, float threshold = -0.2f) {
        endedBefore_ = finished->count();
        processor->processFiles(preset, withEQ, withReference, target, threshold);
    }
    void waitForEnd() {
        ASSERT_TRUE(waitUntil([&] { return finished->count() > endedBefore_; })) << "the batch never ended";
        EXPECT_EQ(finished->count(), endedBefore_ + 1);
    }
    void runBatch(const QString& preset = {}, bool withEQ = false, bool withReference = false,
                  float target = -10.0f, float threshold = -0.2f) {
        start(preset, withEQ, withReference, target, threshold);
        waitForEnd();
    }

    ProcessingStatus status(size_t index) const { return processor->audioFiles().at(index).processingStatus; }

    test::ScratchFolder songs;
    test::ScratchFolder renders;
    MemoryPreferences store;
    FakeMastering fake{renders.path()};
    MainThreadWatch watch;
    Gate release;
    std::unique_ptr<BatchProcessor> processor;
    std::unique_ptr<QSignalSpy> finished;
    int endedBefore_ = 0;
};

TEST_F(BatchProcessorTest, AddedSongsAreMeasuredAndKeptInOrderOnceEach) {
    const fs::path loud = writeSong("loud.wav", 0.5f, 1.5, 48000.0);    // 72,000 frames
    const fs::path quiet = writeSong("quiet.wav", 0.25f, 2.0, 48000.0);  // 96,000 frames
    // The same file twice in one call (once spelled through "."), and again in a later call.
    addAndWait({loud, writeNotAudio(), quiet, songs.path() / "." / "loud.wav", songs.path() / "missing.wav"});
    addAndWait({quiet});

    const auto& files = processor->audioFiles();
    ASSERT_EQ(files.size(), 2u) << "duplicates and files that do not open are not added";
    EXPECT_EQ(files[0].filename, "loud.wav") << "songs keep the order they were given in";
    EXPECT_EQ(files[1].filename, "quiet.wav");
    EXPECT_EQ(files[0].url, loud);
    ASSERT_TRUE(files[0].duration && files[1].duration);
    EXPECT_DOUBLE_EQ(*files[0].duration, 1.5);
    EXPECT_DOUBLE_EQ(*files[1].duration, 2.0);
    ASSERT_TRUE(files[0].originalStats && files[1].originalStats) << "each song is measured on import";
    // Twice the amplitude is 6.02 dB louder at the same rate, and the peak is the amplitude.
    EXPECT_NEAR(files[0].originalStats->lufs - files[1].originalStats->lufs, 6.02, 0.05);
    EXPECT_NEAR(files[0].originalStats->peak, 20.0 * std::log10(0.5), 0.01);
    EXPECT_NE(files[0].id, files[1].id);
    EXPECT_FALSE(files[0].id.empty());
    for (const auto& f : files) {
        EXPECT_TRUE(f.isSelected) << "new songs are selected";
        EXPECT_EQ(f.processingStatus, ProcessingStatus::pending);
        EXPECT_FALSE(f.masterURL || f.finalURL || f.masterStats || f.finalStats);
    }
}

TEST_F(BatchProcessorTest, WithoutMeasuringOnImportSongsOnlyHaveToOpen) {
    processor->setMeasuresOnImport(false);
    const fs::path song = writeSong("song.wav", 0.5f, 1.5, 48000.0);
    addAndWait({writeNotAudio(), song});

    const auto& files = processor->audioFiles();
    ASSERT_EQ(files.size(), 1u) << "a file that does not open is still refused";
    EXPECT_EQ(files[0].url, song);
    ASSERT_TRUE(files[0].duration);
    EXPECT_DOUBLE_EQ(*files[0].duration, 1.5);
    EXPECT_FALSE(files[0].originalStats) << "nothing was measured";

    processor->setMeasuresOnImport(true);
    addAndWait({writeSong("later.wav")});
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[1].originalStats) << "songs added after switching it back on are measured";
}

TEST_F(BatchProcessorTest, ProgressOfTheSecondOfThreeSongsMapsIntoTheWholeBatch) {
    addSongs(3);
    hold("song2.wav", {0.5});
    std::vector<std::pair<int, double>> overallAtFinish;
    QObject::connect(processor.get(), &BatchProcessor::songFinished, [&](int index, bool) {
        overallAtFinish.emplace_back(index, processor->overallProgress());
    });

    start("Club");
    EXPECT_TRUE(processor->isProcessing());
    ASSERT_TRUE(waitUntil([&] { return processor->currentFileProgress() == 0.9 * 0.5; }))
        << "the pipeline's 0.5 is published as 0.9 of the song";
    EXPECT_EQ(processor->currentIndex(), 1);
    EXPECT_EQ(status(1), ProcessingStatus::processing);
    EXPECT_NEAR(processor->overallProgress(), (0.45 + 1.0) / 3.0, 1e-12);
    release.open();
    waitForEnd();

    ASSERT_EQ(overallAtFinish.size(), 3u);
    EXPECT_EQ(overallAtFinish[1].first, 1);
    EXPECT_DOUBLE_EQ(overallAtFinish[1].second, 2.0 / 3.0) << "a completed second song of three is 2/3";
    EXPECT_FALSE(processor->isProcessing());
    EXPECT_DOUBLE_EQ(processor->overallProgress(), 1.0);
    for (size_t i = 0; i < 3; ++i) {
        const AudioFile& song = processor->audioFiles()[i];
        EXPECT_EQ(song.processingStatus, ProcessingStatus::completed);
        ASSERT_TRUE(song.masterURL && song.masterStats);
        EXPECT_EQ(song.masterURL->filename(), "song" + std::to_string(i + 1) + "_master.wav");
        EXPECT_EQ(song.masterStats->lufs, FakeMastering::kStats.lufs);
        EXPECT_FALSE(song.finalURL) << "a master batch writes only the master fields";
    }
    const auto calls = fake.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ((calls[0].settings), (DJMasteringSettings{-10.0f, -0.2f}));
    EXPECT_FALSE(calls[0].finalMode);
    EXPECT_FALSE(calls[0].eq) << "a master batch hands no equaliser to the pipeline";
    EXPECT_EQ(store.stringValue("lastUsedPreset"), "Club");
    EXPECT_EQ(processor->usedPresetName(), "Club");
}

TEST_F(BatchProcessorTest, PublishedSongProgressIsTheThrottledPipelineProgress) {
    addSongs(2);
    hold("song2.wav", {-0.2, 0.104, 0.109, 1.7});
    std::vector<double> songProgress;
    QObject::connect(processor.get(), &BatchProcessor::currentFileProgressChanged, [&] {
        if (processor->currentIndex() == 1) songProgress.push_back(processor->currentFileProgress());
    });

    start();
    ASSERT_TRUE(waitUntil([&] { return processor->currentIndex() == 1 && processor->currentFileProgress() == 0.9; }));
    // After the first song's 1.0: −0.2 passes as 0, 0.104 and 0.109 once as 0.10, 1.7 as 1.0
    // (0.9 of the song: the rest belongs to the finish).
    ASSERT_EQ(songProgress.size(), 3u);
    EXPECT_DOUBLE_EQ(songProgress[0], 0.0);
    EXPECT_DOUBLE_EQ(songProgress[1], 0.9 * 0.10);
    EXPECT_DOUBLE_EQ(songProgress[2], 0.9);
    EXPECT_DOUBLE_EQ(processor->overallProgress(), (0.9 + 1.0) / 2.0);
    release.open();
    waitForEnd();
    EXPECT_DOUBLE_EQ(songProgress.back(), 1.0);
    EXPECT_FALSE(store.contains("lastUsedPreset")) << "a batch without a preset name stores none";
    EXPECT_TRUE(processor->usedPresetName().isEmpty());
}

TEST_F(BatchProcessorTest, DeselectedSongsAreSkippedByBothKindsOfBatch) {
    addSongs(3);
    QSignalSpy changed(processor.get(), &BatchProcessor::audioFilesChanged);
    processor->toggleSelection(3);
    processor->toggleSelection(-1);
    EXPECT_EQ(changed.count(), 0) << "an index outside the list changes nothing";
    processor->toggleSelection(1);
    EXPECT_FALSE(processor->audioFiles()[1].isSelected);
    ASSERT_EQ(processor->selectedFiles().size(), 2u);
    EXPECT_EQ(processor->selectedFiles()[1].filename, "song3.wav");

    runBatch();
    EXPECT_EQ(fake.calledNames(), (Names{"song1.wav", "song3.wav"}));
    EXPECT_EQ(status(1), ProcessingStatus::pending) << "a deselected song is left as it was";
    EXPECT_EQ(status(2), ProcessingStatus::completed);

    // Master the second song too, then deselect it for the final batch.
    processor->toggleSelection(1);
    runBatch();
    ASSERT_EQ(fake.calls().size(), 3u) << "a master batch takes only pending songs";
    processor->toggleSelection(1);
    runBatch({}, true);
    const auto calls = fake.calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[3].input, *processor->audioFiles()[0].masterURL) << "a final batch renders the master";
    EXPECT_EQ(calls[4].input.filename(), "song3_master.wav");
    EXPECT_TRUE(calls[3].finalMode);
    EXPECT_TRUE(processor->audioFiles()[0].finalURL);
    EXPECT_FALSE(processor->audioFiles()[1].finalURL) << "the deselected song gets no final rendering";
    EXPECT_TRUE(processor->isFinalMode());
}

TEST_F(BatchProcessorTest, FinalBatchWithoutMasteredSelectedSongEndsAtOnce) {
    addSongs(2);
    start({}, true);
    EXPECT_EQ(finished->count(), 1) << "nothing to wait for: the batch ended inside the call";
    EXPECT_FALSE(processor->isProcessing());
    EXPECT_DOUBLE_EQ(processor->overallProgress(), 1.0);
    EXPECT_TRUE(processor->isFinalMode()) << "an empty final batch is still a final batch";
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(status(0), ProcessingStatus::pending);
}

TEST_F(BatchProcessorTest, FailedSongsAreMarkedAndTheBatchGoesOn) {
    const auto paths = addSongs(3);
    fake.steps["song1.wav"] = [](const Call&, ProgressUpdater&, const auto&) -> Result<DJMasteringResult> {
        return Error{errc::kApp, errc::kBufferNotCreated, "no buffer"};
    };
    fs::remove(paths[1]);

    QSignalSpy songFinished(processor.get(), &BatchProcessor::songFinished);
    runBatch();

    EXPECT_EQ(status(0), ProcessingStatus::failed) << "a pipeline error fails the song";
    EXPECT_EQ(status(1), ProcessingStatus::failed) << "a missing input fails the song";
    EXPECT_EQ(status(2), ProcessingStatus::completed) << "the batch goes on after failures";
    EXPECT_EQ(fake.calledNames(), (Names{"song1.wav", "song3.wav"}))
        << "a missing input never reaches the pipeline";
    const auto& missing = processor->audioFiles()[1];
    ASSERT_TRUE(missing.failure);
    EXPECT_EQ(missing.failure->domain, "KorvantaApp");
    EXPECT_EQ(missing.failure->code, 3);
    EXPECT_EQ(missing.failure->message, "Input file not found at path: " + paths[1].string());
    EXPECT_FALSE(missing.masterURL);
    ASSERT_EQ(songFinished.count(), 3);
    EXPECT_EQ(songFinished[1][1].toBool(), false);
    EXPECT_EQ(songFinished[2][1].toBool(), true);
    EXPECT_DOUBLE_EQ(processor->overallProgress(), 1.0);

    runBatch();
    EXPECT_EQ(fake.calls().size(), 2u) << "failed songs are not pending: a second batch leaves them";
}

TEST_F(BatchProcessorTest, CancellingDuringTheSecondOfFourSongsLeavesTheRestPending) {
    addSongs(4);
    Gate entered;
    fake.steps["song2.wav"] = [&](const Call&, ProgressUpdater& progress,
                                  const AudioProcessor::CancellationCheck& isCancelled)
        -> Result<DJMasteringResult> {
        progress.update(0.2);
        entered.open();
        for (int i = 0; i < 60000; ++i) {
            if (isCancelled()) return cancelledError();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return Error{"FakeMastering", 2, "the cancellation never arrived"};
    };

    start();
    ASSERT_TRUE(waitUntil([&] { return entered.isOpen(); }));
    processor->cancel();
    waitForEnd();

    EXPECT_EQ(status(0), ProcessingStatus::completed);
    EXPECT_EQ(status(1), ProcessingStatus::failed);
    ASSERT_TRUE(processor->audioFiles()[1].failure);
    EXPECT_TRUE(processor->audioFiles()[1].failure->is("KorvantaApp", 100))
        << "the pipeline saw the cancellation through its callback";
    EXPECT_EQ(status(2), ProcessingStatus::pending);
    EXPECT_EQ(status(3), ProcessingStatus::pending);
    EXPECT_EQ(fake.calls().size(), 2u);
    EXPECT_FALSE(processor->isProcessing());
    EXPECT_DOUBLE_EQ(processor->overallProgress(), 1.0);

    runBatch();
    EXPECT_FALSE(processor->isCancelled()) << "the next batch starts uncancelled";
    EXPECT_EQ(status(2), ProcessingStatus::completed) << "and takes the songs left pending";
    EXPECT_EQ(status(3), ProcessingStatus::completed);
    EXPECT_EQ(status(1), ProcessingStatus::failed);
}

TEST_F(BatchProcessorTest, M4AExportFormatConvertsTheMaster) {
    // The real pipeline on a 4-second mix of two sines.
    const fs::path path = songs.path() / "mix.wav";
    test::writeWav(path, test::makeSignal(44100.0, 2, 4 * 44100, [](int c, size_t i) {
                       const double t = static_cast<double>(i) / 44100.0;
                       return static_cast<float>(0.2 * std::sin(2 * M_PI * 110.0 * t) +
                                                 0.1 * std::sin(2 * M_PI * (c ? 2500.0 : 2000.0) * t));
                   }),
                   WavSampleFormat::int16);
    addAndWait({path});
    saveExportFormat(store, ExportFormat::m4a);
    processor->setMasteringOperation(&AudioProcessor::masterAudioFile);
    runBatch("Club");

    const AudioFile& song = processor->audioFiles().at(0);
    ASSERT_EQ(song.processingStatus, ProcessingStatus::completed)
        << (song.failure ? song.failure->description() : std::string());
    ASSERT_TRUE(song.masterURL && song.masterStats);
    EXPECT_EQ(song.masterURL->filename(), "mix_master.m4a");
    auto reader = AudioFileReader::open(*song.masterURL);
    ASSERT_TRUE(reader) << "the converted master opens as audio";
    EXPECT_NEAR(static_cast<double>(reader.value()->length()), 4 * 44100.0, 64.0);
    EXPECT_NEAR(song.masterStats->lufs, -10.0, 0.5) << "the master's figures are kept";
    // Imported with a quick measurement of the window; the master brings the whole song's figures.
    ASSERT_TRUE(song.originalStats && song.originalStats->hasDeliveryFigures());
    auto whole = analyzeAudioFile(path);
    ASSERT_TRUE(whole.ok());
    EXPECT_EQ(song.originalStats.value(), whole.value());

    auto folder = privateTempFolder();
    ASSERT_TRUE(folder);
    fs::remove(*song.masterURL);
    fs::remove(folder.value() / "mix_master.wav");
}

TEST_F(BatchProcessorTest, FinalBatchMatchesTheLoadedReference) {
    const fs::path referencePath = songs.path() / "reference.wav";
    test::writeWav(referencePath, test::makeNoise(44100.0, 2, 3.0, 0.5f, 7));
    ReferenceTrackManager* reference = ReferenceTrackManager::shared();  // on the shared store
    QSignalSpy loaded(reference, &ReferenceTrackManager::loadFinished);
    reference->loadReferenceTrack(referencePath);
    ASSERT_TRUE(waitUntil([&] { return loaded.count() > 0; }));
    ASSERT_TRUE(loaded[0][0].toBool()) << loaded[0][1].toString().toStdString();
    const std::vector<float> referenceSpectrum = reference->referenceSpectrumValues();

    EQSettings active;
    active.isEnabled = true;
    active.masterGain = 2.5f;
    active.bands[0].gain = 4.0f;
    saveEQSettings(active, "ActiveEQSettings", store);

    addSongs(1);
    processor->adoptOriginalsAsMasters();
    const fs::path master = *processor->audioFiles()[0].masterURL;
    hold("song1.wav");
    start({}, true);
    EXPECT_TRUE(waitUntil([&] { return std::abs(processor->currentFileProgress() - 0.9 * 0.3) < 1e-12; }))
        << "the song's spectrum is measured before the pipeline runs, reported as 0.3 of the song";
    release.open();
    waitForEnd();

    auto songSpectrum = analyze12BandSpectrum(master);
    ASSERT_TRUE(songSpectrum);
    auto calls = fake.calls();
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_TRUE(calls[0].eq);
    ASSERT_EQ(calls[0].eq->bands.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_FLOAT_EQ(calls[0].eq->bands[i].gain, referenceSpectrum[i] - songSpectrum.value()[i])
            << "band " << i << " gets reference minus song, unlimited";
    }
    EXPECT_EQ(calls[0].eq->masterGain, 2.5f) << "only the band gains are replaced";
    EXPECT_TRUE(calls[0].eq->isEnabled);
    EXPECT_EQ(loadEQSettings("ActiveEQSettings", store), active) << "the stored record is not changed";

    // Without a loaded reference (its spectrum stays, the profile is gone) the stored gains are
    // rendered as they are.
    reference->clearReference();
    runBatch({}, true);
    calls = fake.calls();
    ASSERT_EQ(calls.size(), 2u);
    ASSERT_TRUE(calls[1].eq);
    EXPECT_EQ(*calls[1].eq, active);
}

TEST_F(BatchProcessorTest, MeasureOnlyFinalBatchRecordsTheMasterItself) {
    addSongs(1);
    runBatch();
    const fs::path master = *processor->audioFiles()[0].masterURL;
    runBatch({}, false, true);
    const AudioFile& song = processor->audioFiles()[0];
    EXPECT_EQ(fake.calls().size(), 1u) << "measuring does not run the pipeline";
    ASSERT_TRUE(song.finalURL && song.finalStats);
    EXPECT_EQ(*song.finalURL, master);
    EXPECT_EQ(song.finalStats->lufs, song.originalStats->lufs) << "the master is a copy of the song";
}

TEST_F(BatchProcessorTest, DestroyingTheProcessorDuringABatchDropsItsResults) {
    addSongs(2);
    Gate entered;
    std::atomic<int> cancelledAfterDestruction{-1};
    std::atomic<bool> returned{false};
    fake.steps["song1.wav"] = [&](const Call& call, ProgressUpdater& progress,
                                  const AudioProcessor::CancellationCheck& isCancelled) {
        entered.open();
        release.wait();
        progress.update(0.6);
        cancelledAfterDestruction = isCancelled() ? 1 : 0;
        auto result = fake.render(call);
        returned = true;
        return result;
    };
    start();
    ASSERT_TRUE(waitUntil([&] { return entered.isOpen(); }));
    processor->cancel();
    processor.reset();
    release.open();
    ASSERT_TRUE(waitUntil([&] { return returned.load(); }));
    workerPool().waitForDone();
    test::drainEvents();
    EXPECT_EQ(cancelledAfterDestruction, 0) << "a processor that is gone reads as not cancelled";
    EXPECT_EQ(fake.calls().size(), 1u) << "the batch does not go on without its processor";
}

}  // namespace
}  // namespace korvanta
