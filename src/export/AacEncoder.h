// Encodes a decodable audio file into AAC in an M4A (MPEG-4 audio) file, optionally with a cover.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "export/CoverArt.h"
#include "platform/AudioFileReader.h"
#include "platform/Error.h"

namespace korvanta {

namespace errc {
inline constexpr const char* kAacEncoder = "AacEncoder";
// No AAC encoder is available, or it refuses the stream (a channel count AAC cannot carry).
inline constexpr int kEncoderUnavailable = 1;
// Resampling or encoding failed part-way.
inline constexpr int kEncodeFailed = 2;
// The output file could not be created, written or finished (a file already there included).
inline constexpr int kOutputFailed = 3;
// The input holds no audio frames.
inline constexpr int kNoAudio = 4;
}  // namespace errc

// One encoding job, made in two steps like the platform's export sessions: create() prepares the
// encoder for an input (and fails when it cannot be made), encode() writes the file once.
//
// Format: FFmpeg's native AAC-LC encoder at 128 kb/s per channel (256 kb/s for stereo), lowered
// where the AAC frame size caps it at low sample rates. The input's own rate is kept when AAC has
// it; other rates are resampled to 44100 Hz (multiples of 11025 Hz) or 48000 Hz. Channels are
// taken in FFmpeg's default layout for their count, without remixing: 1 to 8 and 16 channels
// encode, other counts are refused. The encoder's start delay is recorded in the file's edit list and the last packet's
// duration ends the stream at the input's length, so decoders give back as many frames as the
// input had (after resampling, the converted count).
//
// Not thread-safe: one thread drives an encoder; the handlers are called on that thread.
class AacEncoder {
public:
    // fraction in [0, 1] of the input encoded, non-decreasing over one encode().
    using ProgressHandler = std::function<void(double fraction)>;
    // Asked between blocks of about 0.1 s of audio; true stops the encode.
    using CancellationCheck = std::function<bool()>;

    // Opens `input` with AudioFileReader. Errors: those of AudioFileReader::open (AudioFile
    // domain), AacEncoder kEncoderUnavailable, kNoAudio.
    static Result<std::unique_ptr<AacEncoder>> create(const std::filesystem::path& input);
    // Encodes everything `reader` holds, from frame 0. Errors: kEncoderUnavailable, kNoAudio.
    static Result<std::unique_ptr<AacEncoder>> create(std::unique_ptr<AudioFileReader> reader);

    ~AacEncoder();
    AacEncoder(const AacEncoder&) = delete;
    AacEncoder& operator=(const AacEncoder&) = delete;

    int sampleRate() const;      // of the encoded stream, Hz
    int channelCount() const;
    int64_t bitRate() const;     // bits per second
    int64_t inputFrameCount() const;

    // A JPEG picture stored as the file's cover (an attached picture). Without one the file has
    // no cover.
    void setCoverArt(JpegImage cover);
    // Puts the file index before the audio so players can start before the whole file arrived
    // (costs one extra pass over the file at the end). Off by default.
    void setFastStart(bool enabled);
    void setProgressHandler(ProgressHandler handler);
    void setCancellationCheck(CancellationCheck check);

    // Writes the M4A file to `output`, which must not exist yet (whatever its extension, the
    // container is M4A). May be called once. On every failure nothing is left at `output`.
    // Errors: kOutputFailed, kEncodeFailed, the reader's AudioFile kReadFailed, cancelledError()
    // when the cancellation check answered true, and kEncodeFailed for a second call.
    Status encode(const std::filesystem::path& output);

private:
    struct State;
    explicit AacEncoder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace korvanta
