#include "platform/WavWriter.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace korvanta {

namespace {

// Frames converted and handed to libsndfile at a time (one write call each).
constexpr uint32_t kScratchFrames = 16384;

Error writeError(const std::filesystem::path& path, const std::string& why) {
    return Error{errc::kAudioFile, errc::kWriteFailed,
                 "The file \"" + path.filename().string() + "\" couldn't be saved: " + why};
}

}  // namespace

Result<std::unique_ptr<WavWriter>> WavWriter::create(const std::filesystem::path& path,
                                                     const AudioFormat& format,
                                                     WavSampleFormat sampleFormat) {
    if (format.channelCount <= 0 || !(format.sampleRate >= 1.0) || format.sampleRate > 1e7) {
        return writeError(path, "unsupported sample rate or channel count.");
    }
    // O_EXCL: never write over something that is there; callers remove old renderings first.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return writeError(path, std::strerror(errno) + std::string("."));

    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(format.sampleRate));
    info.channels = format.channelCount;
    info.format = SF_FORMAT_WAV | (sampleFormat == WavSampleFormat::int16   ? SF_FORMAT_PCM_16
                                   : sampleFormat == WavSampleFormat::int24 ? SF_FORMAT_PCM_24
                                                                            : SF_FORMAT_FLOAT);
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (!file) {
        const std::string why = sf_strerror(nullptr);
        ::close(fd);
        ::unlink(path.c_str());
        return writeError(path, why);
    }
    std::unique_ptr<WavWriter> writer(new WavWriter());
    writer->file_ = file;
    writer->fd_ = fd;
    writer->path_ = path;
    writer->format_ = format;
    writer->sampleFormat_ = sampleFormat;
    const size_t scratch = static_cast<size_t>(kScratchFrames) * format.channelCount;
    if (sampleFormat == WavSampleFormat::float32) writer->floatScratch_.resize(scratch);
    else if (sampleFormat == WavSampleFormat::int24) writer->intScratch_.resize(scratch);
    else writer->shortScratch_.resize(scratch);
    return writer;
}

WavWriter::~WavWriter() { (void)close(); }

Status WavWriter::write(const PcmBuffer& buffer) {
    return write(const_cast<PcmBuffer&>(buffer).floatChannelData(), buffer.channelCount(),
                 buffer.frameLength());
}

Status WavWriter::write(const float* const* channels, int channelCount, uint32_t frames) {
    if (!file_) return writeError(path_, "the file is closed.");
    if (channelCount != format_.channelCount) {
        return writeError(path_, "the buffer's channel count does not match the file's.");
    }
    auto* file = static_cast<SNDFILE*>(file_);
    const size_t cc = static_cast<size_t>(channelCount);
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(kScratchFrames, frames - done);
        sf_count_t written = 0;
        switch (sampleFormat_) {
        case WavSampleFormat::float32:
            for (size_t c = 0; c < cc; ++c) {
                const float* src = channels[c] + done;
                for (uint32_t i = 0; i < n; ++i) floatScratch_[i * cc + c] = src[i];
            }
            written = sf_writef_float(file, floatScratch_.data(), n);
            break;
        case WavSampleFormat::int24:
            // libsndfile takes 32-bit integers and keeps their top 24 bits.
            quantizeInterleaved24(channels, channelCount, done, n, intScratch_.data());
            written = sf_writef_int(file, intScratch_.data(), n);
            break;
        case WavSampleFormat::int16:
            quantizeInterleaved16(channels, channelCount, done, n, shortScratch_.data());
            written = sf_writef_short(file, shortScratch_.data(), n);
            break;
        }
        if (written != static_cast<sf_count_t>(n)) return writeError(path_, sf_strerror(file));
        done += n;
        framesWritten_ += n;
    }
    return {};
}

Status WavWriter::close() {
    if (!file_) return {};
    auto* file = static_cast<SNDFILE*>(file_);
    file_ = nullptr;
    const int rc = sf_close(file);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (rc != 0) return writeError(path_, sf_error_number(rc));
    if (closed != 0) return writeError(path_, std::strerror(errno) + std::string("."));
    return {};
}

}  // namespace korvanta
