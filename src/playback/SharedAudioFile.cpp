#include "playback/SharedAudioFile.h"

namespace korvanta {

Result<std::shared_ptr<SharedAudioFile>> SharedAudioFile::open(const std::filesystem::path& path) {
    auto reader = AudioFileReader::open(path);
    if (!reader) return reader.error();
    return std::make_shared<SharedAudioFile>(std::move(reader).value());
}

SharedAudioFile::SharedAudioFile(std::unique_ptr<AudioFileReader> reader)
    : reader_(std::move(reader)),
      path_(reader_->path()),
      format_(reader_->processingFormat()),
      length_(reader_->length()) {}

Status SharedAudioFile::read(int64_t startFrame, PcmBuffer& buffer, uint32_t frameCount) {
    std::lock_guard lock(mutex_);
    reader_->setFramePosition(startFrame);
    return reader_->read(buffer, frameCount);
}

}  // namespace korvanta
