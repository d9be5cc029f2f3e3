#include "mastering/AudioProcessor.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <cmath>
#include <future>
#include <system_error>
#include <limits>
#include <optional>
#include <vector>

#include "analysis/TempoAnalyzer.h"
#include "engine/AudioEngine.h"
#include "engine/DeliveryMeasurement.h"
#include "engine/LoudnessMeasurement.h"
#include "engine/LoudnessMeter.h"
#include "engine/MasteringRenderer.h"
#include "platform/AudioFileReader.h"
#include "platform/FileOperations.h"
#include "platform/MemoryDecoder.h"
#include "platform/SampleQuantizer.h"
#include "platform/StageTiming.h"
#include "platform/TempFolder.h"
#include "platform/WavWriter.h"

namespace korvanta {

namespace fs = std::filesystem;

namespace {

constexpr double kAcceptanceLu = 0.3;
constexpr int kMaxPasses = 3;
constexpr double kPassSpan = 0.28333;
// Below this the measurement found nothing to measure (its floor is about −449.7 LUFS).
constexpr float kUnmeasurableLufs = -200.0f;
// Gains are kept finite and far below float overflow: +150 dB is beyond any real correction.
constexpr double kMaxGainDb = 150.0;

class Progress {
public:
    explicit Progress(const std::shared_ptr<ProgressUpdater>& updater) : updater_(updater) {}
    void report(double value) const {
        if (updater_) updater_->update(value);
    }

private:
    const std::shared_ptr<ProgressUpdater>& updater_;
};

bool cancelled(const AudioProcessor::CancellationCheck& isCancelled) {
    return isCancelled && isCancelled();
}

float toLinearGain(double gainDb) {
    return static_cast<float>(std::pow(10.0, std::min(gainDb, kMaxGainDb) / 20.0));
}

// Songs whose planar float samples take at most this much are decoded into memory once; the
// measurement, the tempo estimate and every pass then read that memory. Ten minutes of 48 kHz
// stereo take 230 MB. Longer or wider songs go through a float copy on disk instead, so that the
// memory a song takes stays bounded whatever its length.
constexpr uint64_t kMaxInMemoryBytes = 256ull << 20;

// Lossless PCM containers read exactly and cheaply from the file itself; everything else is
// decoded once per song (into memory, or into a float copy when too large for memory).
bool isLosslessPcm(const fs::path& input) {
    std::string ext = input.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".wav" || ext == ".aif" || ext == ".aiff";
}

// A float copy of a song's audio in the private temporary folder, removed on destruction.
class DecodedCopy {
public:
    ~DecodedCopy() {
        if (!path_.empty()) (void)removeFileIfExists(path_);
    }
    const fs::path& path() const { return path_; }

    // Copies `reader` from frame 0 to its end.
    static Result<std::unique_ptr<DecodedCopy>> make(AudioFileReader& reader, const fs::path& folder,
                                                     const AudioProcessor::CancellationCheck& isCancelled) {
        const AudioFormat format = reader.processingFormat();
        auto copy = std::make_unique<DecodedCopy>();
        copy->path_ = folder / ("temp_decoded_" + makeUuidString() + ".wav");
        auto writer = WavWriter::create(copy->path_, format, WavSampleFormat::float32);
        if (!writer) {
            copy->path_.clear();
            return writer.error();
        }
        const auto chunkFrames = static_cast<uint32_t>(std::max(1.0, format.sampleRate * 2.0));
        auto buffer = PcmBuffer::allocate(format, chunkFrames);
        if (!buffer) {
            return Error{errc::kApp, errc::kBufferNotCreated, "Could not create audio buffer"};
        }
        reader.setFramePosition(0);
        while (reader.framePosition() < reader.length()) {
            if (cancelled(isCancelled)) return cancelledError();
            if (auto read = reader.read(*buffer); !read) return read.error();
            if (buffer->frameLength() == 0) break;
            if (auto written = writer.value()->write(*buffer); !written) return written.error();
        }
        if (auto closed = writer.value()->close(); !closed) return closed.error();
        return copy;
    }

private:
    fs::path path_;
};

// Meters a song's delivery figures as it is being decoded, on a thread of its own that follows
// the decoder chunk by chunk (the decoding itself keeps one core busy). Without a thread to spare
// it meters each chunk as it is handed over.
class MeterBehindDecoder {
public:
    MeterBehindDecoder(int channelCount, double sampleRate) {
        meter_.prepare(channelCount, sampleRate);
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
        }
    }
    ~MeterBehindDecoder() {
        {
            std::lock_guard lock(mutex_);
            abandoned_ = true;
            closed_ = true;
        }
        ready_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    MeterBehindDecoder(const MeterBehindDecoder&) = delete;
    MeterBehindDecoder& operator=(const MeterBehindDecoder&) = delete;

    // Decoding thread: `channels` stay valid while `audio` lives.
    void feed(const std::shared_ptr<const DecodedAudio>& audio, const float* const* channels, uint32_t frames) {
        const auto count = audio->channels.size();
        if (!thread_.joinable()) {
            meter_.process(channels, frames);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            chunks_.push_back(Chunk{audio, std::vector<const float*>(channels, channels + count), frames});
        }
        ready_.notify_one();
    }

    // Once the decoding has ended well: waits for the meter to catch up (any number of times).
    DeliveryFigures finish() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        ready_.notify_one();
        if (thread_.joinable()) thread_.join();
        return meter_.figures();
    }

private:
    struct Chunk {
        std::shared_ptr<const DecodedAudio> audio;  // keeps the samples in place
        std::vector<const float*> channels;
        uint32_t frames;
    };

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return closed_ || !chunks_.empty(); });
            if (abandoned_) {
                chunks_.clear();
                return;
            }
            if (chunks_.empty()) return;
            Chunk chunk = std::move(chunks_.front());
            chunks_.pop_front();
            lock.unlock();
            meter_.process(chunk.channels.data(), chunk.frames);
            chunk = {};
            lock.lock();
        }
    }

    DeliveryMeter meter_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Chunk> chunks_;
    bool closed_ = false;
    bool abandoned_ = false;
    std::thread thread_;  // last: started once everything it uses is there
};

// Where the measurement, the tempo estimate and the passes read the song from: its samples in
// memory, a float copy on disk, or the input file itself. Every open() gives a new reader at
// frame 0; the samples are the same whichever holds them.
class SongSource {
public:
    // Decodes `input` once (see kMaxInMemoryBytes). Errors: opening the input, reading it (for a
    // compressed input) and writing a float copy, passed on; cancellation while decoding.
    static Result<SongSource> make(const fs::path& input, const fs::path& folder, bool measureDelivery,
                                   const AudioProcessor::CancellationCheck& isCancelled) {
        auto opened = AudioFileReader::open(input);
        if (!opened) return opened.error();
        AudioFileReader& reader = *opened.value();
        SongSource source;
        source.input_ = input;
        const bool lossless = isLosslessPcm(input);
        if (decodedBytes(reader.processingFormat(), reader.length()) <= kMaxInMemoryBytes) {
            // The delivery figures take the whole song: metered while it is decoded, they cost
            // next to no time.
            const AudioFormat format = reader.processingFormat();
            std::unique_ptr<MeterBehindDecoder> meter;
            if (measureDelivery) meter = std::make_unique<MeterBehindDecoder>(format.channelCount, format.sampleRate);
            DecodedChunk onChunk;
            if (meter) {
                onChunk = [&meter](const std::shared_ptr<const DecodedAudio>& audio, const float* const* channels,
                                   uint32_t frames) { meter->feed(audio, channels, frames); };
            }
            auto decoded = decodeIntoMemory(reader, kMaxInMemoryBytes, isCancelled, onChunk);
            if (decoded) {
                // A lossless file that reads short is left to the readers of the file itself, which
                // treat the missing frames as they always have.
                if (!lossless || decoded.value()->length == reader.length()) {
                    source.memory_ = std::move(decoded).value();
                    // The meter may still be a chunk or two behind: it runs on beside what follows.
                    source.meter_ = std::move(meter);
                    return source;
                }
            } else if (decoded.error().is(errc::kApp, errc::kCancelled)) {
                return decoded.error();
            } else if (!lossless && !decoded.error().is(errc::kApp, errc::kBufferNotCreated)) {
                return decoded.error();
            }
        }
        if (!lossless) {
            auto copy = DecodedCopy::make(reader, folder, isCancelled);
            if (!copy) return copy.error();
            source.copy_ = std::move(copy).value();
        }
        return source;
    }

    Result<std::unique_ptr<AudioFileReader>> open() const {
        if (memory_) return readerOverMemory(memory_, input_);
        return AudioFileReader::open(copy_ ? copy_->path() : input_);
    }

    // The song's own loudness figures, from its window (those analyzeAudioFile gives for the
    // input); the delivery figures come apart from them (delivery()).
    Result<AudioStats> measure() const {
        if (memory_) return analyzeAudioFile(*memory_, MeasurementScope::window);
        auto reader = open();
        if (!reader) return reader.error();
        return analyzeAudioFile(*reader.value(), MeasurementScope::window);
    }

    // Whether the song was metered as it was decoded; delivery() then only waits for that meter,
    // and must be called from one thread at a time.
    bool meteredWhileDecoded() const { return meter_ != nullptr; }

    // The whole song's true peak and LUFS (R128); unmeasured (NaN) ones when it cannot be read.
    DeliveryFigures delivery() const {
        if (meter_) return meter_->finish();
        if (memory_) {
            std::vector<const float*> channels;
            for (const auto& samples : memory_->channels) channels.push_back(samples.data());
            return measureDelivery(channels.data(), static_cast<int>(channels.size()), memory_->length,
                                   memory_->format.sampleRate);
        }
        auto reader = open();
        if (!reader) return {};
        auto figures = measureDelivery(*reader.value());
        return figures ? figures.value() : DeliveryFigures{};
    }

    // The song's tempo, cached under the input's path.
    Result<int> tempo() const {
        if (memory_) return BPMAnalyzer::detectTempo(*memory_, input_.string());
        auto reader = open();
        if (!reader) return reader.error();
        return BPMAnalyzer::detectTempo(*reader.value(), input_.string());
    }

private:
    fs::path input_;
    std::shared_ptr<const DecodedAudio> memory_;
    std::unique_ptr<DecodedCopy> copy_;
    std::unique_ptr<MeterBehindDecoder> meter_;  // last: stops before the samples it reads go
};

// What is measured of a rendering as its chunks are written, quantised to the file's bit depth
// exactly as reading the file back gives them: its measurement window, kept for the system's
// figures, and (when `delivery`) the whole rendering, through a DeliveryMeter on the writer's
// thread. A trial pass, which is given up once its window misses the target, is metered only
// once it is known to be kept: until its window is complete the frames before it are kept too
// (up to kMaxHeadBytes), and then the meter catches up from memory and runs on with the rest.
class WrittenWindow {
public:
    static constexpr uint64_t kMaxHeadBytes = 128ull << 20;

    WrittenWindow(const AudioFormat& format, int64_t length, bool delivery)
        : format_(format), length_(length), window_(measurementWindow(format, length)), delivery_(delivery) {
        if (length_ >= 1) buffer_ = PcmBuffer::allocate(format, window_.frameCount);
        if (delivery_) {
            const auto channels = static_cast<size_t>(std::max(format.channelCount, 0));
            meter_.prepare(format.channelCount, format.sampleRate);
            snapped_.resize(channels);
            headFits_ = uint64_t(window_.firstFrame) * channels * sizeof(float) <= kMaxHeadBytes;
        }
    }

    // Before every pass: nothing kept yet (the buffers are reused from pass to pass).
    void restart(bool trial) {
        kept_ = 0;
        metering_ = delivery_ && !(trial && headFits_);
        deferred_ = delivery_ && !metering_;
        if (metering_) meter_.reset();
        if (deferred_) head_.resize(snapped_.size());
    }

    // Writer thread, chunks in order. Each part of a chunk is quantised once, straight to where
    // it is kept: the window into its buffer, the head of a deferred pass into head_, the rest
    // (still to be metered) into snapped_, which is indexed from the chunk's first frame.
    void take(const PcmBuffer& chunk, int64_t firstFrame, int bits) {
        if (!buffer_) return;
        const int64_t chunkEnd = firstFrame + chunk.frameLength();
        const int64_t windowEnd = window_.firstFrame + window_.frameCount;
        const int64_t from = std::max(firstFrame, window_.firstFrame);
        const int64_t to = std::min(chunkEnd, windowEnd);
        if (from < to) {
            for (int c = 0; c < chunk.channelCount(); ++c) {
                snapToSampleGrid(chunk.channel(c) + (from - firstFrame),
                                 buffer_->channel(c) + (from - window_.firstFrame),
                                 static_cast<size_t>(to - from), bits);
            }
            kept_ += to - from;
        }
        if (!metering_ && !deferred_) return;
        const int64_t headEnd = std::min(chunkEnd, window_.firstFrame);
        const int64_t tailFrom = std::max(firstFrame, windowEnd);
        const auto snapOutside = [&](int64_t begin, int64_t end, bool intoHead) {
            if (begin >= end) return;
            for (size_t c = 0; c < snapped_.size(); ++c) {
                float* destination;
                if (intoHead) {
                    head_[c].resize(static_cast<size_t>(window_.firstFrame));
                    destination = head_[c].data() + begin;
                } else {
                    snapped_[c].resize(std::max(snapped_[c].size(), size_t(chunk.frameLength())));
                    destination = snapped_[c].data() + (begin - firstFrame);
                }
                snapToSampleGrid(chunk.channel(static_cast<int>(c)) + (begin - firstFrame), destination,
                                 static_cast<size_t>(end - begin), bits);
            }
        };
        snapOutside(firstFrame, headEnd, deferred_);
        snapOutside(tailFrom, chunkEnd, false);
        if (metering_) {
            meterSnapped(firstFrame, firstFrame, headEnd);
            if (from < to) meterWindow(from, to);
            meterSnapped(firstFrame, tailFrom, chunkEnd);
        }
        lastChunkFirst_ = firstFrame;
        lastChunkFrames_ = chunk.frameLength();
    }

    // Writer thread, once the window is complete and the pass is kept: meters what a deferred
    // pass has held back (the frames before the window, the window, the rest of the last chunk)
    // and every chunk from now on.
    void keep() {
        if (!deferred_ || !complete()) return;
        deferred_ = false;
        metering_ = true;
        meter_.reset();
        if (window_.firstFrame > 0) {
            pointers_.resize(head_.size());
            for (size_t c = 0; c < pointers_.size(); ++c) pointers_[c] = head_[c].data();
            meter_.process(pointers_.data(), window_.firstFrame);
        }
        const int64_t windowEnd = window_.firstFrame + window_.frameCount;
        meterWindow(window_.firstFrame, windowEnd);
        meterSnapped(lastChunkFirst_, windowEnd, lastChunkFirst_ + lastChunkFrames_);
    }

    // Every frame of the window has been taken.
    bool complete() const { return buffer_ && kept_ == window_.frameCount; }

    // The pass's figures, or nothing when the window could not be kept whole.
    std::optional<AudioStats> stats() const {
        if (!buffer_ || kept_ != window_.frameCount) return std::nullopt;
        return measureLoudness(buffer_->floatChannelData(), buffer_->channelCount(),
                               window_.frameCount, static_cast<float>(format_.sampleRate));
    }

    // The delivery figures of the pass last taken, into `stats`, when it was metered whole.
    bool addDelivery(AudioStats& stats) const {
        if (!metering_ || !complete() || meter_.framesMeasured() != length_) return false;
        setDeliveryFigures(stats, meter_.figures());
        return true;
    }

private:
    // Meters frames [from, to) of the chunk starting at `chunkFirst`, from snapped_.
    void meterSnapped(int64_t chunkFirst, int64_t from, int64_t to) {
        if (from >= to) return;
        pointers_.resize(snapped_.size());
        for (size_t c = 0; c < pointers_.size(); ++c) pointers_[c] = snapped_[c].data() + (from - chunkFirst);
        meter_.process(pointers_.data(), to - from);
    }

    // Meters frames [from, to) of the window, from its buffer.
    void meterWindow(int64_t from, int64_t to) {
        if (from >= to) return;
        pointers_.resize(snapped_.size());
        for (size_t c = 0; c < pointers_.size(); ++c) {
            pointers_[c] = buffer_->channel(static_cast<int>(c)) + (from - window_.firstFrame);
        }
        meter_.process(pointers_.data(), to - from);
    }

    AudioFormat format_;
    int64_t length_;
    MeasurementWindow window_;
    bool delivery_;
    bool headFits_ = false;
    bool metering_ = false;  // this pass is being metered chunk by chunk
    bool deferred_ = false;  // this pass keeps its head until it is known to be kept
    std::unique_ptr<PcmBuffer> buffer_;
    int64_t kept_ = 0;
    DeliveryMeter meter_;
    std::vector<std::vector<float>> snapped_;  // the last chunk's frames outside the window, quantised
    std::vector<std::vector<float>> head_;     // frames before the window (deferred passes)
    std::vector<const float*> pointers_;       // channel starts handed to the meter (reused)
    int64_t lastChunkFirst_ = 0;
    int64_t lastChunkFrames_ = 0;
};

Result<DJMasteringResult> renderFinal(const fs::path& input, const fs::path& output,
                                      const EQSettings& eq,
                                      const std::shared_ptr<ProgressUpdater>& progress) {
    if (auto removed = removeFileIfExists(output); !removed) return removed.error();
    if (auto rendered = AudioEngine::shared().processAudioFile(input, output, eq, progress.get());
        !rendered) {
        return rendered.error();
    }
    Progress(progress).report(0.95);
    auto stats = analyzeAudioFile(output);
    if (!stats) return stats.error();
    Progress(progress).report(1.0);
    return DJMasteringResult{output, stats.value()};
}

}  // namespace

std::string AudioProcessor::renderingBaseName(const fs::path& input) {
    std::string name = input.stem().string();
    if (auto at = name.find("_master"); at != std::string::npos) name.resize(at);
    if (auto at = name.find("_final"); at != std::string::npos) name.resize(at);
    return name;
}

double AudioProcessor::reductionCorrection(double a, double targetLufs) {
    if (targetLufs >= -13.0) return a <= 3.0 ? -0.03 * a : -0.1 * (a - 3.0);
    if (a <= 2.0) return -0.05 * a;
    if (a <= 4.0) return -0.1 - 0.1 * (a - 2.0);
    return -0.3 - 0.3 * (a - 4.0);
}

double AudioProcessor::firstGainDb(double inputLufs, double inputPeakDb, double targetLufs) {
    const double d = targetLufs - inputLufs;
    const double a = std::fabs(d);
    const double p = std::fabs(inputPeakDb);
    double e;
    if (d < 0.0) e = reductionCorrection(a, targetLufs);
    else if (a <= 1.0) e = 0.6 * a;
    else if (a <= 3.0) e = 0.8 + (a - 1.0) * 0.35;
    else if (a <= 5.0) e = 1.5 + (a - 3.0) * 0.25 + p * 0.05;
    else if (a <= 7.0) e = 2.0 + (a - 5.0) * 0.2 + p * 0.1;
    else if (a <= 9.0) e = 2.4 + (a - 7.0) * 0.2 + p * 0.15;
    else e = 2.8 + (a - 9.0) * 0.2 + p * 0.2;
    return d + e;
}

double AudioProcessor::correctionGainDb(double measuredLufs, double targetLufs) {
    const double d = targetLufs - measuredLufs;
    return d + (d >= 0.0 ? 0.6 * d : reductionCorrection(-d, targetLufs));
}

Result<DJMasteringResult> AudioProcessor::masterAudioFile(
    const fs::path& input, const DJMasteringSettings& settings, bool finalMode,
    const std::optional<EQSettings>& eq, const std::shared_ptr<ProgressUpdater>& progressUpdater,
    const CancellationCheck& isCancelled) {
    const Progress progress(progressUpdater);
    if (cancelled(isCancelled)) return cancelledError();
    progress.report(0.0);

    auto folder = privateTempFolder();
    if (!folder) return folder.error();
    const std::string baseName = renderingBaseName(input);

    if (finalMode && eq && eq->isEnabled) {
        return renderFinal(input, folder.value() / (baseName + "_final.wav"), *eq,
                           progressUpdater);
    }

    // Master mode.
    const fs::path output = folder.value() / (baseName + "_master.wav");
    if (auto removed = removeFileIfExists(output); !removed) return removed.error();

    const bool measuresDelivery = deliveryFiguresEnabled();
    auto source = SongSource::make(input, folder.value(), measuresDelivery, isCancelled);
    if (!source) return source.error();
    timingMark("decoded the song");

    Result<AudioStats> inputStats = source->measure();
    if (!inputStats) return inputStats.error();
    timingMark("measured the song");
    if (!(inputStats->lufs > kUnmeasurableLufs)) {
        return Error{errc::kApp, kUnmeasurableLoudness,
                     "The song has no measurable loudness: it is silent or shorter than 0.4 "
                     "seconds"};
    }

    // The original's delivery figures take the whole song; unless they were metered as it was
    // decoded, they are measured beside the tempo estimate and the passes, on a thread of their
    // own (joined before `source` goes).
    std::future<DeliveryFigures> originalDelivery;
    if (measuresDelivery && !source->meteredWhileDecoded()) {
        const SongSource* song = &source.value();
        try {
            originalDelivery = std::async(std::launch::async, [song] { return song->delivery(); });
        } catch (const std::system_error&) {
            originalDelivery = std::async(std::launch::deferred, [song] { return song->delivery(); });
        }
    }

    progress.report(0.05);
    if (cancelled(isCancelled)) return cancelledError();
    Result<int> tempo = source->tempo();
    if (!tempo) return tempo.error();
    timingMark("estimated the tempo");
    progress.report(0.1);
    if (cancelled(isCancelled)) return cancelledError();

    const float target = settings.targetLUFS;
    // A rendered pass: its figures, and whether it was rendered to the end.
    struct Pass {
        AudioStats stats;
        bool whole = true;
    };
    // Renders one pass into `to` and measures what it wrote: from the measurement window kept as
    // the samples are written, quantised as the file holds them (the figures analyzeAudioFile
    // gives for the file), or from the file itself when that window could not be kept. With
    // `mayStopEarly` (a trial pass), a pass whose figures already miss the target once its window
    // is written stops there: its file is only ever removed, so the rest would be wasted work.
    std::optional<WrittenWindow> window;
    auto renderPass = [&](const fs::path& to, float gain, double base, double span,
                          bool mayStopEarly) -> Result<Pass> {
        auto reader = source->open();
        if (!reader) return reader.error();
        if (!window) {
            window.emplace(reader.value()->processingFormat(), reader.value()->length(), measuresDelivery);
        }
        window->restart(mayStopEarly);
        // Written on the renderer's writer thread; read by the renderer's cancellation checks and,
        // after the pass has returned (and so drained its writer), here.
        std::optional<AudioStats> measured;
        std::atomic<bool> missed{false};
        const Status rendered = renderMasteringPass(
            *reader.value(), to, target, settings.limitThreshold, gain, tempo.value(),
            [&](double q) { progress.report(base + span * q); },
            [&] { return missed.load() || cancelled(isCancelled); }, sharedPreferences(),
            [&](const PcmBuffer& chunk, int64_t firstFrame, int bits) {
                window->take(chunk, firstFrame, bits);
                if (measured || !window->complete()) return;
                measured = window->stats();
                if (mayStopEarly && std::fabs(measured->lufs - target) > kAcceptanceLu) {
                    missed.store(true);
                } else {
                    window->keep();
                }
            });
        if (missed.load()) {
            timingMark("pass stopped early, measured in flight");
            return Pass{*measured, false};
        }
        if (!rendered) return rendered.error();
        if (measured) {
            timingMark("pass rendered, measured in flight");
            return Pass{*measured, true};
        }
        auto stats = analyzeAudioFile(to, measuresDelivery ? MeasurementScope::wholeSong : MeasurementScope::window);
        if (!stats) return stats.error();
        timingMark("pass rendered, measured from its file");
        return Pass{stats.value(), true};
    };

    AudioStats accepted{};
    int passes = 0;
    double firstGain = 0.0;
    if (std::fabs(inputStats->lufs - target) <= kAcceptanceLu) {
        progress.report(0.15);
        passes = 1;
        auto rendered = renderPass(output, 1.0f, 0.15, 0.8, false);
        if (!rendered) {
            // A partly written master must never pass for a finished one.
            (void)removeFileIfExists(output);
            return rendered.error();
        }
        accepted = rendered->stats;
    } else {
        double gainDb = std::min(firstGainDb(inputStats->lufs, inputStats->peak, target), kMaxGainDb);
        firstGain = gainDb;
        for (int pass = 1; pass <= kMaxPasses; ++pass) {
            const bool lastPass = pass == kMaxPasses;
            passes = pass;
            const fs::path passOutput =
                lastPass ? output
                         : folder.value() / ("temp_iteration_" + std::to_string(pass) + "_" +
                                             makeUuidString() + ".wav");
            const double base = 0.1 + (pass - 1) * kPassSpan;
            auto rendered = renderPass(passOutput, toLinearGain(gainDb), base, kPassSpan, !lastPass);
            if (!rendered) {
                // The last pass writes the master itself: a partial one must not stay there.
                (void)removeFileIfExists(passOutput);
                return rendered.error();
            }
            const AudioStats* stats = &rendered->stats;
            if (rendered->whole && (std::fabs(stats->lufs - target) <= kAcceptanceLu || lastPass)) {
                if (passOutput != output) {
                    if (auto removed = removeFileIfExists(output); !removed) return removed.error();
                    if (auto moved = moveFile(passOutput, output); !moved) return moved.error();
                    timingMark("moved the accepted pass");
                }
                accepted = *stats;
                break;
            }
            (void)removeFileIfExists(passOutput);
            gainDb = std::min(gainDb + correctionGainDb(stats->lufs, target), kMaxGainDb);
        }
    }

    // The accepted pass is the last one rendered: its meter holds its figures (a pass measured
    // from its file has them already).
    if (measuresDelivery && window && !accepted.hasDeliveryFigures()) window->addDelivery(accepted);
    AudioStats original = inputStats.value();
    if (originalDelivery.valid()) setDeliveryFigures(original, originalDelivery.get());
    else if (source->meteredWhileDecoded()) setDeliveryFigures(original, source->delivery());
    progress.report(1.0);
    if (!fileExists(output)) {
        return Error{errc::kApp, errc::kFileMissing, "Output file was not created"};
    }
    return DJMasteringResult{output, accepted, tempo.value(), passes, firstGain, original};
}

}  // namespace korvanta
