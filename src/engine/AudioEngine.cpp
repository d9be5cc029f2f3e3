#include "engine/AudioEngine.h"

#include <algorithm>
#include <cmath>

#include "engine/StereoStages.h"
#include "mastering/ProgressUpdater.h"
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
    std::array<bool, kBandSlots> active{};
    for (size_t b = 0; b < bandCount; ++b) {
        const EQBand& band = settings.bands[b];
        active[b] = isBandActive(band);
        if (active[b]) {
            designs[b] = BiquadCoefficients::peaking(band.frequency, band.gain, band.q, sampleRate);
        }
    }

    const uint32_t frames = buffer.frameLength();
    std::lock_guard lock(filterStateLock_);
    for (int c = 0; c < buffer.channelCount(); ++c) {
        const size_t slot = c == 0 ? 0 : 1;
        float* samples = buffer.channel(c);
        for (size_t b = 0; b < bandCount; ++b) {
            if (active[b]) processBlock(designs[b], filterStates_[b][slot], samples, frames);
        }
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
