// Decoding through FFmpeg (libavformat, libavcodec, libswresample): M4A/MP4, raw AAC (ADTS) and
// whatever else FFmpeg reads that libsndfile refuses.
//
// Positioning is exact by construction: the decoder only ever moves forward from the start of the
// stream. A read further on decodes and discards up to its start; a read before the current frame
// reopens the file and decodes forward again. No container seek is used, because codecs such as
// AAC carry state across packets that a seek cannot restore (the overlap of the transform and the
// noise generator of perceptual noise substitution), so any seek would make the samples at a
// position depend on how the reader got there. A fresh decoder fed the same packets yields the
// same samples, which is what makes "seek, then read" equal to "read from the start".
//
// Length: MP4-family files state the stream duration in samples with a complete sample index;
// that duration is trusted (the decoder already drops the encoder delay, the tail padding is cut
// at the duration, and a packet that fails to decode becomes silence of its own length, so a
// sequential read yields exactly the stated length). Every other stream is decoded once at open to
// count its frames.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioDecoder.h"
#include "platform/FfmpegHandles.h"
#include "platform/FfmpegLogging.h"

namespace korvanta {

namespace {

// Consecutive decoder errors after which a stream is given up as undecodable. Each error consumes
// a packet, so this only bounds pathological files.
constexpr int kMaxConsecutiveErrors = 10000;


Error readFailed(const std::string& why) {
    return Error{errc::kAudioFile, errc::kReadFailed, "The audio data could not be read: " + why};
}

// One open demuxer and decoder positioned at the start of the chosen audio stream.
struct Session {
    std::unique_ptr<AVFormatContext, InputFormatDeleter> format;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> codec;
    AVStream* stream = nullptr;
    int sampleRate = 0;
    int channelCount = 0;
};

using SessionOpening = std::variant<Session, NotMine, Error>;

SessionOpening openSession(const std::filesystem::path& path) {
    Session session;
    AVDictionary* options = nullptr;
    // Only the local file: no playlists or references that pull in other files or URLs.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* format = nullptr;
    // The "file:" prefix keeps names such as "concat:x" or "a:b.m4a" from naming a protocol.
    const std::string url = "file:" + path.string();
    const int opened = avformat_open_input(&format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) return NotMine{};
    session.format.reset(format);

    // A score at or below the retry level means only the extension or a weak pattern matched
    // (text or random bytes under an audio name).
    if (format->probe_score <= AVPROBE_SCORE_RETRY) return NotMine{};
    if (avformat_find_stream_info(format, nullptr) < 0) return NotMine{};

    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index == AVERROR_DECODER_NOT_FOUND) {
        return Error{errc::kAudioFile, errc::kUnsupportedFormat,
                     "The file \"" + path.filename().string() +
                         "\" couldn't be opened because its audio encoding is not supported."};
    }
    if (index < 0 || !codec) return NotMine{};

    AVStream* stream = format->streams[index];
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != index) format->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVCodecParameters* parameters = stream->codecpar;
    if (parameters->sample_rate <= 0 || parameters->ch_layout.nb_channels <= 0) return NotMine{};

    session.codec.reset(avcodec_alloc_context3(codec));
    if (!session.codec) return readFailed("out of memory.");
    AVCodecContext* context = session.codec.get();
    if (avcodec_parameters_to_context(context, parameters) < 0) return NotMine{};
    context->pkt_timebase = stream->time_base;
    context->request_sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->thread_count = 1;
    if (const int rc = avcodec_open2(context, codec, nullptr); rc < 0) {
        return Error{errc::kAudioFile, errc::kUnsupportedFormat,
                     "The file \"" + path.filename().string() +
                         "\" couldn't be opened: " + ffmpegMessage(rc) + "."};
    }
    session.stream = stream;
    session.sampleRate = parameters->sample_rate;
    session.channelCount = parameters->ch_layout.nb_channels;
    return session;
}

// The stream's length in frames when the container states it with a complete, in-file sample
// index and a time base of one tick per sample (MP4 family); nullopt when it must be counted.
std::optional<int64_t> statedLength(AVFormatContext* format, AVStream* stream, int sampleRate) {
    if (!format->iformat || !std::strstr(format->iformat->name, "mp4")) return std::nullopt;
    if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) return std::nullopt;
    if (stream->time_base.num != 1 || stream->time_base.den != sampleRate) return std::nullopt;
    const int frameSize = stream->codecpar->frame_size;
    if (frameSize <= 0) return std::nullopt;

    const int entries = avformat_index_get_entries_count(stream);
    if (entries <= 0) return std::nullopt;
    const int64_t fileSize = format->pb ? avio_size(format->pb) : -1;
    int64_t lastTimestamp = std::numeric_limits<int64_t>::min();
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (!entry) return std::nullopt;
        // A sample beyond the end of the file: truncated, the stated duration is a promise the
        // data does not keep.
        if (fileSize > 0 && entry->pos + entry->size > fileSize) return std::nullopt;
        lastTimestamp = std::max(lastTimestamp, entry->timestamp);
    }
    if (lastTimestamp + frameSize < stream->duration) return std::nullopt;
    return stream->duration;
}

class FfmpegDecoder final : public AudioDecoder {
public:
    FfmpegDecoder(std::filesystem::path path, Session session)
        : path_(std::move(path)), session_(std::move(session)) {
        format_ = {static_cast<double>(session_.sampleRate), session_.channelCount};
        frame_.reset(av_frame_alloc());
        packet_.reset(av_packet_alloc());
    }

    // Checks that the stream really decodes and fixes the length. NotMine when no frame decodes.
    std::optional<DecoderOpening> prepare() {
        if (!frame_ || !packet_) return DecoderOpening{readFailed("out of memory.")};
        startStream();
        if (auto stated = statedLength(session_.format.get(), session_.stream, session_.sampleRate)) {
            trusted_ = true;
            length_ = *stated;
        }
        // The first real frame is held, so the first read does not decode it again.
        if (decodeFrame() != Step::frame) return DecoderOpening{NotMine{}};
        held_ = true;
        if (trusted_) {
            // The stream's start time already accounts for the encoder delay the decoder drops.
            const int64_t start = session_.stream->start_time;
            origin_ = start != AV_NOPTS_VALUE ? start : frame_->pts != AV_NOPTS_VALUE ? frame_->pts : 0;
            return std::nullopt;
        }

        for (;;) {
            const Step step = nextChunk();
            if (step == Step::end) break;
            if (step == Step::failed) return DecoderOpening{failure_};
        }
        length_ = chunk_.start + chunk_.count;
        if (length_ <= 0) return DecoderOpening{NotMine{}};
        needsRestart_ = true;
        return std::nullopt;
    }

    AudioFormat format() const override { return format_; }
    int64_t length() const override { return length_; }

    Result<uint32_t> read(int64_t start, float* const* channels, uint32_t frameCount) override {
        if (frameCount == 0 || start < 0 || start >= length_) return 0u;
        if (needsRestart_ || start < chunk_.start) {
            if (auto error = restart()) return *error;
        }
        const auto wanted = static_cast<uint32_t>(std::min<int64_t>(frameCount, length_ - start));
        uint32_t done = 0;
        while (done < wanted) {
            const int64_t position = start + done;
            const int64_t chunkEnd = chunk_.start + chunk_.count;
            if (position >= chunk_.start && position < chunkEnd) {
                const auto n = static_cast<uint32_t>(std::min<int64_t>(wanted - done, chunkEnd - position));
                copyChunk(position, n, channels, done);
                done += n;
                continue;
            }
            const Step step = nextChunk();
            if (step == Step::frame) continue;
            if (step == Step::failed) {
                needsRestart_ = true;
                if (done == 0) return failure_;
            }
            break;
        }
        return done;
    }

private:
    enum class Step { frame, end, failed };

    // A run of output frames: a slice of the decoded frame in frame_, or silence.
    struct Chunk {
        int64_t start = 0;   // output frame index of the first frame
        int64_t count = 0;   // frames in the run
        bool silent = false;
        int offset = 0;      // first used sample within frame_
        bool converted = false;
    };

    void startStream() {
        chunk_ = Chunk{};
        held_ = false;
        draining_ = false;
        needsRestart_ = false;
        av_frame_unref(frame_.get());
    }

    // Reopens the file and positions the decoder at frame 0 exactly as after opening.
    std::optional<Error> restart() {
        auto opening = openSession(path_);
        auto* session = std::get_if<Session>(&opening);
        if (!session || session->sampleRate != session_.sampleRate ||
            session->channelCount != session_.channelCount) {
            needsRestart_ = true;
            if (auto* error = std::get_if<Error>(&opening)) return readFailed(error->message);
            return readFailed("the file changed or can no longer be opened.");
        }
        session_ = std::move(*session);
        startStream();
        return std::nullopt;
    }

    // Decodes the next frame with the stream's rate and channel count into frame_. Packets that
    // fail to decode are skipped; a demuxer error ends the stream like the end of the file.
    Step decodeFrame() {
        AVFrame* frame = frame_.get();
        av_frame_unref(frame);
        int errors = 0;
        for (;;) {
            int rc = avcodec_receive_frame(session_.codec.get(), frame);
            if (rc == 0) {
                if (frame->nb_samples > 0 && frame->sample_rate == session_.sampleRate &&
                    frame->ch_layout.nb_channels == session_.channelCount && frame->extended_data) {
                    return Step::frame;
                }
                av_frame_unref(frame);
                continue;
            }
            if (rc == AVERROR_EOF) return Step::end;
            if (rc != AVERROR(EAGAIN)) {
                if (rc == AVERROR(ENOMEM) || ++errors > kMaxConsecutiveErrors) return fail(rc);
                continue;
            }
            if (draining_) return Step::end;

            AVPacket* packet = packet_.get();
            rc = av_read_frame(session_.format.get(), packet);
            if (rc < 0) {
                if (rc == AVERROR(ENOMEM)) return fail(rc);
                draining_ = true;
                avcodec_send_packet(session_.codec.get(), nullptr);
                continue;
            }
            if (packet->stream_index != session_.stream->index) {
                av_packet_unref(packet);
                continue;
            }
            rc = avcodec_send_packet(session_.codec.get(), packet);
            av_packet_unref(packet);
            if (rc == AVERROR(ENOMEM)) return fail(rc);
            if (rc < 0 && ++errors > kMaxConsecutiveErrors) return fail(rc);
        }
    }

    Step fail(int code) {
        failure_ = readFailed(ffmpegMessage(code) + ".");
        return Step::failed;
    }

    // Moves chunk_ to the next run of output frames, cut at the length.
    Step nextChunk() {
        for (;;) {
            const int64_t next = chunk_.start + chunk_.count;
            if (next >= length_) return Step::end;
            if (!held_) {
                chunk_ = Chunk{next, 0};  // frame_ is about to be replaced
                const Step step = decodeFrame();
                if (step == Step::failed) return step;
                if (step == Step::end) {
                    // A trusted length is kept even when the last packets did not decode.
                    if (!trusted_) return Step::end;
                    chunk_ = Chunk{next, length_ - next, true};
                    return Step::frame;
                }
                held_ = true;
            }
            AVFrame* frame = frame_.get();
            int offset = 0;
            if (trusted_) {
                const int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
                if (pts != AV_NOPTS_VALUE) {
                    const int64_t at = pts - origin_;
                    if (at > next) {
                        // Packets that did not decode: their time stays, as silence.
                        chunk_ = Chunk{next, std::min(at, length_) - next, true};
                        return Step::frame;
                    }
                    if (at < next) {
                        if (next - at >= frame->nb_samples) {
                            held_ = false;
                            continue;
                        }
                        offset = static_cast<int>(next - at);
                    }
                }
            }
            held_ = false;
            chunk_ = Chunk{next, std::min<int64_t>(frame->nb_samples - offset, length_ - next), false, offset};
            return Step::frame;
        }
    }

    // The planar float samples of frame_, converting once per frame when the decoder's sample
    // format is not planar float. nullptr when conversion fails.
    const float* const* framePlanes() {
        AVFrame* frame = frame_.get();
        const auto sampleFormat = static_cast<AVSampleFormat>(frame->format);
        if (sampleFormat == AV_SAMPLE_FMT_FLTP ||
            (sampleFormat == AV_SAMPLE_FMT_FLT && session_.channelCount == 1)) {
            return reinterpret_cast<const float* const*>(frame->extended_data);
        }
        if (chunk_.converted) return planes_.data();

        if (!swr_ || swrFormat_ != sampleFormat) {
            AVChannelLayout layout{};
            av_channel_layout_default(&layout, session_.channelCount);
            SwrContext* swr = nullptr;
            // Same layout and rate on both sides: only the sample format changes.
            const int rc = swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_FLTP, session_.sampleRate,
                                               &layout, sampleFormat, session_.sampleRate, 0, nullptr);
            av_channel_layout_uninit(&layout);
            swr_.reset(swr);
            swrFormat_ = AV_SAMPLE_FMT_NONE;
            if (rc < 0 || !swr_ || swr_init(swr_.get()) < 0) return nullptr;
            swrFormat_ = sampleFormat;
        }
        const size_t samples = static_cast<size_t>(frame->nb_samples);
        if (scratch_.size() < samples * static_cast<size_t>(session_.channelCount)) {
            scratch_.resize(samples * static_cast<size_t>(session_.channelCount));
        }
        planes_.resize(static_cast<size_t>(session_.channelCount));
        for (int c = 0; c < session_.channelCount; ++c) planes_[c] = scratch_.data() + c * samples;
        const int converted = swr_convert(swr_.get(), reinterpret_cast<uint8_t**>(planes_.data()),
                                          frame->nb_samples,
                                          const_cast<const uint8_t**>(frame->extended_data),
                                          frame->nb_samples);
        if (converted != frame->nb_samples) return nullptr;
        chunk_.converted = true;
        return planes_.data();
    }

    void copyChunk(int64_t position, uint32_t frames, float* const* channels, uint32_t at) {
        const float* const* planes = chunk_.silent ? nullptr : framePlanes();
        const size_t from = static_cast<size_t>(chunk_.offset + (position - chunk_.start));
        for (int c = 0; c < session_.channelCount; ++c) {
            if (planes) std::memcpy(channels[c] + at, planes[c] + from, frames * sizeof(float));
            else std::fill_n(channels[c] + at, frames, 0.0f);
        }
    }

    std::filesystem::path path_;
    Session session_;
    AudioFormat format_;
    int64_t length_ = std::numeric_limits<int64_t>::max();  // until counted or stated
    bool trusted_ = false;   // length_ is the container's, and frame timestamps place the frames
    int64_t origin_ = 0;     // timestamp of output frame 0 (trusted streams)

    std::unique_ptr<AVFrame, FrameDeleter> frame_;
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    Chunk chunk_;
    bool held_ = false;          // frame_ is decoded but not yet placed in a chunk
    bool draining_ = false;      // the demuxer is done; the decoder gives out what it holds
    bool needsRestart_ = false;  // the session is not where chunk_ says (after counting or failing)
    Error failure_;

    std::unique_ptr<SwrContext, ResamplerDeleter> swr_;
    AVSampleFormat swrFormat_ = AV_SAMPLE_FMT_NONE;
    std::vector<float> scratch_;
    std::vector<float*> planes_;
};

}  // namespace

DecoderOpening openWithFfmpeg(const std::filesystem::path& path) {
    captureFfmpegLog();
    SessionOpening opening = openSession(path);
    if (auto* notMine = std::get_if<NotMine>(&opening)) return *notMine;
    if (auto* error = std::get_if<Error>(&opening)) return *error;
    auto decoder = std::make_unique<FfmpegDecoder>(path, std::move(std::get<Session>(opening)));
    if (auto refusal = decoder->prepare()) return std::move(*refusal);
    return std::unique_ptr<AudioDecoder>(std::move(decoder));
}

}  // namespace korvanta
