#include "engine/MasteringRenderer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <semaphore>
#include <system_error>
#include <vector>

#include "engine/PeakLimiter.h"
#include "platform/PcmBuffer.h"
#include "platform/SerialExecutor.h"
#include "platform/WavWriter.h"

namespace korvanta {

namespace {

constexpr const char* kHighQualityModeKey = "highQualityMode";

Error fileSystemError(const std::string& what, const std::filesystem::path& path,
                      const std::error_code& ec) {
    return Error{errc::kAudioFile, errc::kFileSystem,
                 what + " \"" + path.string() + "\": " + ec.message() + "."};
}

// Makes sure the output can be created: its folder exists and nothing is in its place.
Status prepareOutputLocation(const std::filesystem::path& output) {
    std::error_code ec;
    const std::filesystem::path folder = output.parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
        if (ec) return fileSystemError("Could not create the folder", folder, ec);
    }
    if (std::filesystem::exists(std::filesystem::symlink_status(output, ec))) {
        std::filesystem::remove(output, ec);
        if (ec) return fileSystemError("Could not remove the old file", output, ec);
    }
    return {};
}

// Chunks in flight: one being read and limited here while the previous ones are limited on the
// helper and written.
constexpr size_t kSlots = 3;

struct Slot {
    std::unique_ptr<PcmBuffer> buffer;
    std::vector<const float*> source;  // per channel: where the chunk's input samples are
    std::binary_semaphore helperDone{0};  // the helper has limited its channels of this chunk
};

uint32_t framesForSeconds(double sampleRate, double seconds) {
    const double frames = sampleRate * seconds;
    if (!(frames > 0.0)) return 0;
    if (frames >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(frames);
}

}  // namespace

Status renderMasteringPass(const std::filesystem::path& input, const std::filesystem::path& output,
                           float targetLUFS, float limitThreshold, float gain, int bpm,
                           const MasteringProgress& progress, const MasteringCancelled& isCancelled,
                           Preferences& preferences) {
    auto reader = AudioFileReader::open(input);
    if (!reader) return reader.error();
    return renderMasteringPass(*reader.value(), output, targetLUFS, limitThreshold, gain, bpm,
                               progress, isCancelled, preferences);
}

Status renderMasteringPass(AudioFileReader& input, const std::filesystem::path& output,
                           float targetLUFS, float limitThreshold, float gain, int bpm,
                           const MasteringProgress& progress, const MasteringCancelled& isCancelled,
                           Preferences& preferences, const MasteringChunkWritten& onChunkWritten) {
    const AudioFormat format = input.processingFormat();
    const int channelCount = format.channelCount;
    const int64_t length = input.length();
    const double chunkSeconds = physicalMemoryBytes() > 8'000'000'000ull ? 2.0 : 1.0;
    const uint32_t chunkFrames = static_cast<uint32_t>(
        std::min<int64_t>(length, framesForSeconds(format.sampleRate, chunkSeconds)));

    std::array<Slot, kSlots> slots;
    for (Slot& slot : slots) {
        slot.buffer = PcmBuffer::allocate(format, chunkFrames);
        if (!slot.buffer) {
            return Error{errc::kApp, errc::kBufferNotCreated, "Could not create audio buffer"};
        }
        slot.source.resize(static_cast<size_t>(std::max(channelCount, 0)));
    }

    const bool highQuality = preferences.boolValue(kHighQualityModeKey).value_or(false);
    if (Status prepared = prepareOutputLocation(output); !prepared) return prepared;
    auto created = WavWriter::create(output, format,
                                     highQuality ? WavSampleFormat::int24 : WavSampleFormat::int16);
    if (!created) return created.error();
    WavWriter& writer = *created.value();

    // The clipper's curve approaches ±1.0 and reaches it in float for very loud peaks; the master
    // stays one step below full scale at its bit depth (±32767 at 16 bits, both signs).
    const int bitsPerSample = highQuality ? 24 : 16;
    const float fullScaleStep = highQuality ? 1.0f / 8388608.0f : 1.0f / 32768.0f;
    const float loudestSample = 1.0f - fullScaleStep;

    const LimiterTiming timing = limiterTimingForTempo(bpm, format.sampleRate);
    std::vector<std::unique_ptr<PeakLimiter>> limiters;
    for (int c = 0; c < channelCount; ++c) {
        limiters.push_back(
            std::make_unique<PeakLimiter>(gain, targetLUFS, limitThreshold, timing, loudestSample));
    }
    // Channels [0, split) are limited on this thread, [split, channelCount) on the helper.
    const int split = (channelCount + 1) / 2;
    const bool useHelper = split < channelCount;

    auto report = [&](double value) {
        if (progress) progress(value);
    };
    report(0.0);

    // Shared with the queues' jobs. `writtenFrames` and `writeFailed` are written by the writer
    // queue only; `writeError` is read here only after the writer queue has drained.
    std::counting_semaphore<kSlots> freeSlots(kSlots);
    std::atomic<int64_t> writtenFrames{0};
    std::atomic<bool> writeFailed{false};
    std::optional<Error> writeError;
    std::shared_ptr<SerialExecutor> helper =
        useHelper ? SerialExecutor::create("korvanta.render.channels") : nullptr;
    std::shared_ptr<SerialExecutor> writerQueue = SerialExecutor::create("korvanta.render.writer");
    // Every exit waits for the queued jobs: they use this frame's locals.
    struct Drain {
        SerialExecutor* helper;
        SerialExecutor* writer;
        ~Drain() {
            if (helper) helper->drain();
            writer->drain();
        }
    } drainOnExit{helper.get(), writerQueue.get()};

    double lastReported = 0.0;
    auto reportWritten = [&] {
        const double p = static_cast<double>(writtenFrames.load()) / static_cast<double>(length);
        if (p - lastReported >= 0.01) {
            report(p);
            lastReported = p;
        }
    };

    const uint32_t silenceFrames = framesForSeconds(format.sampleRate, 0.1);
    bool cancelled = false;
    int64_t position = 0;
    for (size_t chunk = 0; position < length && !writeFailed.load(); ++chunk) {
        reportWritten();
        if (isCancelled && isCancelled()) {
            cancelled = true;
            break;
        }
        freeSlots.acquire();
        Slot& slot = slots[chunk % kSlots];
        PcmBuffer& buffer = *slot.buffer;

        const uint32_t frames =
            static_cast<uint32_t>(std::min<int64_t>(length - position, chunkFrames));
        input.setFramePosition(position);
        // A song held in memory is limited straight from there into the slot; any other input is
        // read into the slot and limited in place.
        bool inMemory = frames > 0;
        for (int c = 0; c < channelCount && inMemory; ++c) {
            slot.source[static_cast<size_t>(c)] = input.samplesInMemory(c);
            inMemory = slot.source[static_cast<size_t>(c)] != nullptr;
        }
        const Status read = inMemory ? Status{} : input.read(buffer, frames);
        if (inMemory) {
            buffer.setFrameLength(frames);
        } else {
            for (int c = 0; c < channelCount; ++c) slot.source[static_cast<size_t>(c)] = buffer.channel(c);
        }
        if (!read || buffer.frameLength() == 0) {
            const uint32_t n = std::min(frames, silenceFrames);
            if (n == 0) {
                freeSlots.release();
                break;
            }
            buffer.setFrameLength(n);
            for (int c = 0; c < channelCount; ++c) {
                std::fill_n(buffer.channel(c), n, 0.0f);
                slot.source[static_cast<size_t>(c)] = buffer.channel(c);
            }
        }
        const uint32_t n = buffer.frameLength();
        const int64_t end = position + n;

        Slot* const current = &slot;
        if (useHelper) {
            helper->async([&limiters, current, split, channelCount, n] {
                for (int c = split; c < channelCount; ++c) {
                    limiters[static_cast<size_t>(c)]->process(current->source[static_cast<size_t>(c)],
                                                             current->buffer->channel(c), n);
                }
                current->helperDone.release();
            });
        }
        for (int c = 0; c < split; ++c) {
            limiters[static_cast<size_t>(c)]->process(slot.source[static_cast<size_t>(c)], buffer.channel(c), n);
        }
        writerQueue->async([&freeSlots, &writtenFrames, &writeFailed, &writeError, out = &writer,
                            &onChunkWritten, bitsPerSample, current, useHelper, end] {
            if (useHelper) current->helperDone.acquire();
            if (!writeFailed.load()) {
                if (Status written = out->write(*current->buffer); !written) {
                    writeError = written.error();
                    writeFailed.store(true);
                } else {
                    if (onChunkWritten) {
                        onChunkWritten(*current->buffer, end - current->buffer->frameLength(),
                                       bitsPerSample);
                    }
                    writtenFrames.store(end);
                }
            }
            freeSlots.release();
        });
        position = end;
    }

    if (helper) helper->drain();
    writerQueue->drain();
    reportWritten();
    if (writeError) return *writeError;
    if (cancelled) return cancelledError();
    if (Status closed = writer.close(); !closed) return closed;
    report(1.0);
    return {};
}

}  // namespace korvanta
