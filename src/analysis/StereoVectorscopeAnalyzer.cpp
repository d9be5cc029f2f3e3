#include "analysis/StereoVectorscopeAnalyzer.h"

#include <algorithm>

namespace korvanta {

StereoVectorscopeAnalyzer::StereoVectorscopeAnalyzer(const std::filesystem::path& path, AudioEngine* engine)
    : engine_(engine ? *engine : AudioEngine::shared()) {
    if (auto opened = AudioFileReader::open(path)) reader_ = std::move(opened).value();
}

bool StereoVectorscopeAnalyzer::canShow() const {
    return reader_ && reader_->processingFormat().channelCount >= 2 && reader_->length() >= 1;
}

std::optional<EQSettings> StereoVectorscopeAnalyzer::activeSettings(const EQSettings& playerSettings) {
    if (playerSettings.isEnabled || playerSettings.stereoEnhancementEnabled) return playerSettings;
    return std::nullopt;
}

VectorscopePoints StereoVectorscopeAnalyzer::processBlock(std::vector<float> left, std::vector<float> right,
                                                          const std::optional<EQSettings>& settings,
                                                          const AudioFormat& format, AudioEngine& engine) {
    const size_t n = std::min(left.size(), right.size());
    if (settings && n > 0) {
        std::shared_ptr<PcmBuffer> block = PcmBuffer::allocate({format.sampleRate, 2}, uint32_t(n));
        if (block) {
            std::copy_n(left.begin(), n, block->channel(0));
            std::copy_n(right.begin(), n, block->channel(1));
            block->setFrameLength(uint32_t(n));
            if (auto processed = engine.processAudioBuffer(block, *settings, false, false)) {
                std::copy_n(processed->channel(0), n, left.begin());
                std::copy_n(processed->channel(1), n, right.begin());
            }
        }
    }
    return thinVectorscopeBlock(left.data(), right.data(), n);
}

std::optional<VectorscopePoints> StereoVectorscopeAnalyzer::snapshot(const std::optional<EQSettings>& settings) {
    if (!canShow()) return std::nullopt;
    const int64_t length = reader_->length();
    const auto window = uint32_t(std::min<int64_t>(length, kSnapshotWindowFrames));
    auto buffer = PcmBuffer::allocate(reader_->processingFormat(), window);
    if (!buffer) return std::nullopt;
    std::vector<float> left, right;
    for (int k = 0; k < 4; ++k) {
        const auto start = static_cast<int64_t>((k / 4.0) * double(length));
        if (start >= length) continue;
        reader_->setFramePosition(start);
        if (!reader_->read(*buffer, uint32_t(std::min<int64_t>(length - start, window)))) continue;
        left.insert(left.end(), buffer->channel(0), buffer->channel(0) + buffer->frameLength());
        right.insert(right.end(), buffer->channel(1), buffer->channel(1) + buffer->frameLength());
    }
    if (left.empty() || right.empty()) return std::nullopt;
    // Lists from several places of the song go through the engine in the standard format.
    return processBlock(std::move(left), std::move(right), settings, AudioFormat{44100.0, 2}, engine_);
}

std::optional<VectorscopePoints> StereoVectorscopeAnalyzer::blockAt(float progress,
                                                                    const std::optional<EQSettings>& settings) {
    if (!canShow()) return std::nullopt;
    const int64_t length = reader_->length();
    const auto position = static_cast<int64_t>(double(length) * double(progress));
    if (position < 0 || position >= length) return std::nullopt;
    auto buffer = PcmBuffer::allocate(reader_->processingFormat(), kBlockFrames);
    if (!buffer) return std::nullopt;
    reader_->setFramePosition(position);
    if (!reader_->read(*buffer, uint32_t(std::min<int64_t>(length - position, kBlockFrames)))) return std::nullopt;
    const uint32_t n = buffer->frameLength();
    return processBlock(std::vector<float>(buffer->channel(0), buffer->channel(0) + n),
                        std::vector<float>(buffer->channel(1), buffer->channel(1) + n), settings,
                        reader_->processingFormat(), engine_);
}

}  // namespace korvanta
