#include "mastering/AudioProcessor.h"

#include <algorithm>
#include <atomic>
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
#include "mastering/FollowingMeter.h"
#include "mastering/WrittenPass.h"
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
            std::unique_ptr<FollowingMeter> meter;
            DecodedChunk onChunk;
            if (measureDelivery) {
                const double rate = reader.processingFormat().sampleRate;
                onChunk = [&meter, rate](const std::shared_ptr<const DecodedAudio>& audio, int64_t decoded) {
                    if (!meter) {
                        std::vector<const float*> starts;
                        for (const auto& samples : audio->channels) starts.push_back(samples.data());
                        meter = std::make_unique<FollowingMeter>(std::move(starts), rate, audio);
                    }
                    meter->publish(decoded);
                };
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

    // Whether the song was metered as it was decoded (then delivery() only waits for that meter,
    // from one thread at a time).
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
    std::unique_ptr<FollowingMeter> meter_;  // last: stops before the samples it reads go
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
    std::optional<WrittenPass> written;
    auto renderPass = [&](const fs::path& to, float gain, double base, double span,
                          bool mayStopEarly) -> Result<Pass> {
        auto reader = source->open();
        if (!reader) return reader.error();
        if (!written) {
            written.emplace(reader.value()->processingFormat(), reader.value()->length(), measuresDelivery);
        }
        written->restart(mayStopEarly);
        // Written on the renderer's writer thread; read by the renderer's cancellation checks and,
        // after the pass has returned (and so drained its writer), here.
        std::optional<AudioStats> measured;
        std::atomic<bool> missed{false};
        const Status rendered = renderMasteringPass(
            *reader.value(), to, target, settings.limitThreshold, gain, tempo.value(),
            [&](double q) { progress.report(base + span * q); },
            [&] { return missed.load() || cancelled(isCancelled); }, sharedPreferences(),
            [&](const PcmBuffer& chunk, int64_t firstFrame, int bits) {
                written->take(chunk, firstFrame, bits);
                if (measured || !written->complete()) return;
                measured = written->stats();
                if (mayStopEarly && std::fabs(measured->lufs - target) > kAcceptanceLu) {
                    missed.store(true);
                } else {
                    written->keep();
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
    if (measuresDelivery && written && !accepted.hasDeliveryFigures()) written->addDelivery(accepted);
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
