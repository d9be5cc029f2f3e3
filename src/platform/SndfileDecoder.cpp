// Decoding through libsndfile: WAV, AIFF, FLAC, Ogg Vorbis and MP3, with sample-exact seeking.
#include <dlfcn.h>
#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/AudioDecoder.h"
#include "platform/DiagnosticLog.h"

// libsndfile decodes MP3 through libmpg123, whose handles print notes ("Note: Illegal
// Audio-MPEG-Header ...", "big_values too big") to standard error unless the handle is told to be
// quiet, and libsndfile makes its handles without saying so and offers no command to change that.
// So the one place where it makes them is taken over here: this definition of mpg123_new, in the
// executable, is the one libsndfile's call binds to; it makes the handle with libmpg123's own
// function and switches it to quiet before libsndfile sets its own flags (which it adds, keeping
// this one). Failures still reach the user as libsndfile's errors. Redirecting file descriptor 2
// around the calls instead would swallow whatever other threads print meanwhile, and would have
// to surround every read, since a damaged frame is noted while decoding, not while opening.
extern "C" mpg123_handle* mpg123_new(const char* decoder, int* error) {
    using Maker = mpg123_handle* (*)(const char*, int*);
    static const Maker libraryMaker = reinterpret_cast<Maker>(::dlsym(RTLD_NEXT, "mpg123_new"));
    if (!libraryMaker) {
        if (error) *error = MPG123_ERR;
        return nullptr;
    }
    mpg123_handle* handle = libraryMaker(decoder, error);
    if (handle) mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    return handle;
}

namespace korvanta {

namespace {

constexpr uint32_t kScratchFrames = 4096;

// True when the first MPEG audio frame of the file carries a Xing/Info or VBRI header, i.e. the
// encoder recorded the exact frame count, delay and padding. Without one, libsndfile's count is
// only an estimate.
bool mp3HasFrameCountHeader(const std::filesystem::path& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<unsigned char> head(1 << 16);
    size_t size = std::fread(head.data(), 1, head.size(), f);
    size_t offset = 0;
    if (size >= 10 && std::memcmp(head.data(), "ID3", 3) == 0) {
        const size_t tag = (size_t(head[6] & 0x7f) << 21) | (size_t(head[7] & 0x7f) << 14) |
                           (size_t(head[8] & 0x7f) << 7) | size_t(head[9] & 0x7f);
        offset = 10 + tag + ((head[5] & 0x10) ? 10 : 0);
        if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) {
            std::fclose(f);
            return false;
        }
        size = std::fread(head.data(), 1, head.size(), f);
        offset = 0;
    }
    std::fclose(f);

    for (size_t i = offset; i + 4 <= size; ++i) {
        const unsigned char* h = head.data() + i;
        if (h[0] != 0xff || (h[1] & 0xe0) != 0xe0) continue;
        const int version = (h[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
        const int layer = (h[1] >> 1) & 3;    // 1: Layer III
        const int bitrate = h[2] >> 4;
        const int rate = (h[2] >> 2) & 3;
        if (version == 1 || layer != 1 || bitrate == 0 || bitrate == 15 || rate == 3) continue;
        const bool mono = ((h[3] >> 6) & 3) == 3;
        const size_t sideInfo = version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
        const size_t xing = i + 4 + sideInfo;
        if (xing + 4 <= size && (std::memcmp(h + 4 + sideInfo, "Xing", 4) == 0 ||
                                 std::memcmp(h + 4 + sideInfo, "Info", 4) == 0)) {
            return true;
        }
        return i + 36 + 4 <= size && std::memcmp(h + 36, "VBRI", 4) == 0;
    }
    return false;
}

class SndfileDecoder final : public AudioDecoder {
public:
    SndfileDecoder(SNDFILE* file, const SF_INFO& info) : file_(file), info_(info) {
        length_ = info.frames;
        scratch_.resize(static_cast<size_t>(kScratchFrames) * static_cast<size_t>(info.channels));
        // libsndfile 1.2.0 positions Ogg streams only approximately: after sf_seek the first
        // block decodes without its overlap, and near the end whole reads return wrong samples.
        // Rewinding to frame 0 is exact, so Ogg files move by decoding forward from there.
        seekByDecoding_ = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG;
    }
    ~SndfileDecoder() override { sf_close(file_); }

    AudioFormat format() const override {
        return {static_cast<double>(info_.samplerate), info_.channels};
    }
    int64_t length() const override { return length_; }

    Result<uint32_t> read(int64_t start, float* const* channels, uint32_t frameCount) override {
        if (start != position_) {
            if (seekByDecoding_) {
                if (!decodeTo(start)) return readError();
                if (position_ != start) return 0u;  // beyond the end
            } else {
                if (sf_seek(file_, start, SEEK_SET) < 0) return readError();
                position_ = start;
            }
        }
        const int channelCount = info_.channels;
        uint32_t done = 0;
        while (done < frameCount) {
            const uint32_t want = std::min(kScratchFrames, frameCount - done);
            const sf_count_t got = sf_readf_float(file_, scratch_.data(), want);
            if (got <= 0) break;
            const float* src = scratch_.data();
            for (sf_count_t i = 0; i < got; ++i) {
                for (int c = 0; c < channelCount; ++c) channels[c][done + i] = *src++;
            }
            done += static_cast<uint32_t>(got);
            position_ += got;
            if (static_cast<uint32_t>(got) < want) break;
        }
        if (done == 0 && frameCount > 0 && sf_error(file_) != SF_ERR_NO_ERROR) return readError();
        return done;
    }

private:
    // Moves to `start` by decoding and discarding, from frame 0 when `start` lies behind.
    // Stops early at the end of the stream. False when rewinding fails.
    bool decodeTo(int64_t start) {
        if (position_ < 0 || start < position_) {
            if (sf_seek(file_, 0, SEEK_SET) < 0) return false;
            position_ = 0;
        }
        while (position_ < start) {
            const auto want = static_cast<sf_count_t>(std::min<int64_t>(kScratchFrames, start - position_));
            const sf_count_t got = sf_readf_float(file_, scratch_.data(), want);
            if (got <= 0) break;
            position_ += got;
        }
        return true;
    }

    Error readError() {
        position_ = -1;
        return Error{errc::kAudioFile, errc::kReadFailed,
                     std::string("The audio data could not be read: ") + sf_strerror(file_)};
    }

    SNDFILE* file_;
    SF_INFO info_;
    int64_t length_ = 0;
    int64_t position_ = 0;
    bool seekByDecoding_ = false;
    std::vector<float> scratch_;
};

}  // namespace

DecoderOpening openWithSndfile(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        if (diagnosticsWanted()) {
            logDiagnostic("libsndfile: " + path.filename().string() + ": not opened: " + sf_strerror(nullptr));
        }
        return NotMine{};
    }
    if (info.channels <= 0 || info.samplerate <= 0 || info.frames < 0) {
        sf_close(file);
        return NotMine{};
    }
    // Without a frame-count header libsndfile's count is an estimate from the first frame, and
    // it never reads past that count: a VBR file whose first frame is small comes out cut short.
    // FFmpeg decodes such files to their end.
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG && !mp3HasFrameCountHeader(path)) {
        sf_close(file);
        return NotMine{};
    }
    // Full scale is ±1.0 for every integer format; float files keep their values.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    return std::unique_ptr<AudioDecoder>(std::make_unique<SndfileDecoder>(file, info));
}

}  // namespace korvanta
