#include "platform/AudioFileReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace korvanta {

namespace {

std::optional<Error> fileSystemRefusal(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return Error{errc::kAudioFile, errc::kNoSuchFile,
                    "The file \"" + name + "\" couldn't be opened because there is no such file."};
        }
        return Error{errc::kAudioFile, errc::kNotReadable,
                "The file \"" + name + "\" couldn't be opened: " + std::strerror(errno) + "."};
    }
    if (S_ISDIR(st.st_mode)) {
        return Error{errc::kAudioFile, errc::kIsDirectory,
                "\"" + name + "\" is a folder, not an audio file."};
    }
    // A FIFO or device would block or never end: only regular files are audio files.
    if (!S_ISREG(st.st_mode)) {
        return Error{errc::kAudioFile, errc::kNotAudio,
                "The file \"" + name + "\" couldn't be opened because it isn't in the correct format."};
    }
    if (::access(path.c_str(), R_OK) != 0) {
        return Error{errc::kAudioFile, errc::kNotReadable,
                "The file \"" + name +
                    "\" couldn't be opened because you don't have permission to view it."};
    }
    return std::nullopt;
}

}  // namespace

Result<std::unique_ptr<AudioDecoder>> openDecoder(const std::filesystem::path& path) {
    if (auto refusal = fileSystemRefusal(path)) return *refusal;

    std::optional<Error> firstError;
    for (auto* backend : {&openWithSndfile, &openWithFfmpeg}) {
        DecoderOpening opening = backend(path);
        if (auto* decoder = std::get_if<std::unique_ptr<AudioDecoder>>(&opening)) {
            return std::move(*decoder);
        }
        if (auto* error = std::get_if<Error>(&opening); error && !firstError) firstError = *error;
    }
    if (firstError) return *firstError;
    return Error{errc::kAudioFile, errc::kNotAudio,
                 "The file \"" + path.filename().string() +
                     "\" couldn't be opened because it isn't in the correct format."};
}

Result<std::unique_ptr<AudioFileReader>> AudioFileReader::open(const std::filesystem::path& path) {
    auto decoder = openDecoder(path);
    if (!decoder) return decoder.error();
    return std::make_unique<AudioFileReader>(std::move(decoder).value(), path);
}

AudioFileReader::AudioFileReader(std::unique_ptr<AudioDecoder> decoder, std::filesystem::path path)
    : decoder_(std::move(decoder)),
      path_(std::move(path)),
      format_(decoder_->format()),
      length_(std::max<int64_t>(decoder_->length(), 0)) {}

Status AudioFileReader::read(PcmBuffer& buffer, std::optional<uint32_t> frameCount) {
    buffer.setFrameLength(0);
    if (buffer.channelCount() != format_.channelCount) {
        return Error{errc::kAudioFile, errc::kReadFailed,
                     "The buffer's channel count does not match the file's."};
    }
    uint32_t wanted = buffer.frameCapacity();
    if (frameCount) wanted = std::min(wanted, *frameCount);
    auto got = read(buffer.floatChannelData(), wanted);
    if (!got) return got.error();
    buffer.setFrameLength(got.value());
    return {};
}

Result<uint32_t> AudioFileReader::read(float* const* channels, uint32_t frameCount) {
    const int64_t left = std::max<int64_t>(length_ - position_, 0);
    const auto wanted = static_cast<uint32_t>(std::min<int64_t>(frameCount, left));
    if (wanted == 0) return 0u;
    auto got = decoder_->read(position_, channels, wanted);
    if (!got) return got.error();
    position_ += got.value();
    return got.value();
}

}  // namespace korvanta
