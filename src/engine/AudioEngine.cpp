#include "engine/AudioEngine.h"

#include <algorithm>
#include <cmath>

#include "engine/StereoStages.h"
#include "platform/ProgressUpdater.h"
#include "platform/AudioFileReader.h"
#include "platform/WavWriter.h"

namespace korvanta {

namespace {

bool isBandActive(const EQBand& band) { return std::fabs(band.gain) > 0.1f; }
bool isStereoActive(const EQSettings& s) {
    return s.stereoEnhancementEnabled && std::fabs(s.stereoWidth - 1.0f) > 0.01f;
}
bool isMidActive(const EQSettings& s) {
    return s.midEnhancementEnabled && std::fabs(s.midAmount - 1.0f) > 0.01f;
}
bool isGainActive(const EQSettings& s) { return std::fabs(s.masterGain) > 0.01f; }

// Runs N biquads in series over `samples`, one sample through all N before the next, with the
// histories in registers, so that the bands' recursions overlap in the processor instead of each
// band waiting on its own previous output. Per band the arithmetic is exactly processSample's.
template <int N>
void filterCascade(const BiquadCoefficients* const* designs, FilterState* const* states,
                   float* samples, uint32_t frames) {
    float b0[N], b1[N], b2[N], a1[N], a2[N], x1[N], x2[N], y1[N], y2[N];
    for (int j = 0; j < N; ++j) {
        b0[j] = designs[j]->b0, b1[j] = designs[j]->b1, b2[j] = designs[j]->b2;
        a1[j] = designs[j]->a1, a2[j] = designs[j]->a2;
        x1[j] = states[j]->x1, x2[j] = states[j]->x2, y1[j] = states[j]->y1, y2[j] = states[j]->y2;
    }
    for (uint32_t i = 0; i < frames; ++i) {
        float v = samples[i];
#pragma GCC unroll 4
        for (int j = 0; j < N; ++j) {
            const float y = b0[j] * v + b1[j] * x1[j] + b2[j] * x2[j] - a1[j] * y1[j] - a2[j] * y2[j];
            x2[j] = x1[j];
            x1[j] = v;
            y2[j] = y1[j];
            y1[j] = y;
            v = y;
        }
        samples[i] = v;
    }
    for (int j = 0; j < N; ++j) *states[j] = FilterState{x1[j], x2[j], y1[j], y2[j]};
}

// filterCascade for two channels at once, one in each of the first two lanes of a vector: the
// same operations in the same order per lane, so each channel gets exactly what filterCascade
// would give it with its own histories.
template <int N>
void filterCascadePair(const BiquadCoefficients* const* designs, FilterState* const* statesA,
                       FilterState* const* statesB, float* a, float* b, uint32_t frames) {
    typedef float Lanes __attribute__((vector_size(16)));
    Lanes b0[N], b1[N], b2[N], a1[N], a2[N], x1[N], x2[N], y1[N], y2[N];
    for (int j = 0; j < N; ++j) {
        const BiquadCoefficients& k = *designs[j];
        b0[j] = Lanes{k.b0, k.b0, k.b0, k.b0}, b1[j] = Lanes{k.b1, k.b1, k.b1, k.b1};
        b2[j] = Lanes{k.b2, k.b2, k.b2, k.b2};
        a1[j] = Lanes{k.a1, k.a1, k.a1, k.a1}, a2[j] = Lanes{k.a2, k.a2, k.a2, k.a2};
        const FilterState& sa = *statesA[j];
        const FilterState& sb = *statesB[j];
        x1[j] = Lanes{sa.x1, sb.x1, 0, 0}, x2[j] = Lanes{sa.x2, sb.x2, 0, 0};
        y1[j] = Lanes{sa.y1, sb.y1, 0, 0}, y2[j] = Lanes{sa.y2, sb.y2, 0, 0};
    }
    for (uint32_t i = 0; i < frames; ++i) {
        Lanes v = {a[i], b[i], 0, 0};
#pragma GCC unroll 4
        for (int j = 0; j < N; ++j) {
            const Lanes y = b0[j] * v + b1[j] * x1[j] + b2[j] * x2[j] - a1[j] * y1[j] - a2[j] * y2[j];
            x2[j] = x1[j];
            x1[j] = v;
            y2[j] = y1[j];
            y1[j] = y;
            v = y;
        }
        a[i] = v[0];
        b[i] = v[1];
    }
    for (int j = 0; j < N; ++j) {
        *statesA[j] = FilterState{x1[j][0], x2[j][0], y1[j][0], y2[j][0]};
        *statesB[j] = FilterState{x1[j][1], x2[j][1], y1[j][1], y2[j][1]};
    }
}

void filterPairInSeries(const BiquadCoefficients* const* designs, FilterState* const* statesA,
                        FilterState* const* statesB, size_t count, float* a, float* b,
                        uint32_t frames) {
    size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        filterCascadePair<4>(designs + j, statesA + j, statesB + j, a, b, frames);
    }
    switch (count - j) {
    case 3: filterCascadePair<3>(designs + j, statesA + j, statesB + j, a, b, frames); break;
    case 2: filterCascadePair<2>(designs + j, statesA + j, statesB + j, a, b, frames); break;
    case 1: filterCascadePair<1>(designs + j, statesA + j, statesB + j, a, b, frames); break;
    default: break;
    }
}

// The bands in order, four at a time.
void filterInSeries(const BiquadCoefficients* const* designs, FilterState* const* states,
                    size_t count, float* samples, uint32_t frames) {
    size_t b = 0;
    for (; b + 4 <= count; b += 4) filterCascade<4>(designs + b, states + b, samples, frames);
    switch (count - b) {
    case 3: filterCascade<3>(designs + b, states + b, samples, frames); break;
    case 2: filterCascade<2>(designs + b, states + b, samples, frames); break;
    case 1: filterCascade<1>(designs + b, states + b, samples, frames); break;
    default: break;
    }
}

}  // namespace

AudioEngine& AudioEngine::shared() {
    static AudioEngine* const engine = new AudioEngine();
    return *engine;
}

AudioEngine::AudioEngine() { resetFilterStates(); }

void AudioEngine::resetFilterStates() {
    std::lock_guard queue(lockQueue_);
    std::lock_guard lock(filterStateLock_);
    filterStates_.fill(BandStates{});
}

std::shared_ptr<PcmBuffer> AudioEngine::processAudioBuffer(std::shared_ptr<PcmBuffer> input,
                                                           const EQSettings& settings,
                                                           bool keepState, bool softClip) {
    if (!input || !settings.isEnabled) return input;
    const bool anyBand = std::any_of(settings.bands.begin(), settings.bands.end(), isBandActive);
    if (!anyBand && !isStereoActive(settings) && !isMidActive(settings) &&
        !isGainActive(settings) && !softClip) {
        return input;
    }
    const int channelCount = input->channelCount();
    if (channelCount <= 0) return input;

    std::shared_ptr<PcmBuffer> output = PcmBuffer::allocate(input->format(), input->frameCapacity());
    if (!output) return input;
    const uint32_t frames = input->frameLength();
    output->setFrameLength(frames);
    for (int c = 0; c < channelCount; ++c) {
        std::copy_n(input->channel(c), frames, output->channel(c));
    }

    if (settings.stereoEnhancementEnabled && channelCount == 2 && settings.stereoWidth > 1.0f) {
        applyStereoWidth(*output, static_cast<float>(output->sampleRate()), settings.stereoWidth);
    }
    filterBands(*output, settings, keepState);
    if (isMidActive(settings)) applyMidEnhancement(*output, settings.midAmount);
    if (isGainActive(settings)) applyMasterGain(*output, settings.masterGain);
    if (softClip) applySoftClip(*output);
    return output;
}

void AudioEngine::filterBands(PcmBuffer& buffer, const EQSettings& settings, bool keepState) {
    if (buffer.channelCount() <= 0) return;
    if (!keepState) resetFilterStates();  // before taking the state lock

    // Designs depend on the settings and the rate only, so they are made once per call.
    const float sampleRate = static_cast<float>(buffer.sampleRate());
    const size_t bandCount = std::min<size_t>(settings.bands.size(), kBandSlots);
    std::array<BiquadCoefficients, kBandSlots> designs{};
    std::array<size_t, kBandSlots> positions{};  // band positions of the active bands, in order
    size_t activeCount = 0;
    for (size_t b = 0; b < bandCount; ++b) {
        const EQBand& band = settings.bands[b];
        if (!isBandActive(band)) continue;
        designs[activeCount] =
            BiquadCoefficients::peaking(band.frequency, band.gain, band.q, sampleRate);
        positions[activeCount++] = b;
    }
    if (activeCount == 0) return;
    std::array<const BiquadCoefficients*, kBandSlots> designList{};
    for (size_t j = 0; j < activeCount; ++j) designList[j] = &designs[j];

    const uint32_t frames = buffer.frameLength();
    std::lock_guard lock(filterStateLock_);
    std::array<FilterState*, kBandSlots> slot0{}, slot1{};
    for (size_t j = 0; j < activeCount; ++j) {
        slot0[j] = &filterStates_[positions[j]][0];
        slot1[j] = &filterStates_[positions[j]][1];
    }
    // Channel 0 runs on slot 0, channels 1, 2, … one after another on slot 1. Slots are
    // independent, so channels 0 and 1 are filtered side by side.
    const int channelCount = buffer.channelCount();
    if (channelCount >= 2) {
        filterPairInSeries(designList.data(), slot0.data(), slot1.data(), activeCount,
                           buffer.channel(0), buffer.channel(1), frames);
    } else {
        filterInSeries(designList.data(), slot0.data(), activeCount, buffer.channel(0), frames);
    }
    for (int c = 2; c < channelCount; ++c) {
        filterInSeries(designList.data(), slot1.data(), activeCount, buffer.channel(c), frames);
    }
}

Status AudioEngine::processAudioFile(const std::filesystem::path& input,
                                     const std::filesystem::path& output,
                                     const EQSettings& settings, ProgressUpdater* progress) {
    auto opened = AudioFileReader::open(input);
    if (!opened) return opened.error();
    AudioFileReader& reader = *opened.value();
    const AudioFormat format = reader.processingFormat();
    const int64_t length = reader.length();

    auto created = WavWriter::create(output, format, WavSampleFormat::float32);
    if (!created) return created.error();
    WavWriter& writer = *created.value();

    resetFilterStates();

    for (int64_t position = 0; position < length;) {
        const auto n = static_cast<uint32_t>(std::min<int64_t>(kFileChunkFrames, length - position));
        std::shared_ptr<PcmBuffer> chunk = PcmBuffer::allocate(format, n);
        if (!chunk) return Error{errc::kEngine, errc::kEngineBufferNotCreated, ""};
        reader.setFramePosition(position);
        if (Status read = reader.read(*chunk, n); !read) return read;

        const std::shared_ptr<PcmBuffer> processed = processAudioBuffer(chunk, settings, true, false);
        if (Status written = writer.write(*processed); !written) return written;
        position += n;
        if (progress) {
            progress->update(static_cast<double>(position) / static_cast<double>(length) * 0.95);
        }
    }
    return writer.close();
}

}  // namespace korvanta
