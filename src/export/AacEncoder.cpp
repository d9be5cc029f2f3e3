#include "export/AacEncoder.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <system_error>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include "platform/FfmpegHandles.h"
#include "platform/FfmpegLogging.h"

namespace korvanta {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kBitRatePerChannel = 128000;
constexpr uint32_t kReadBlockFrames = 4096;  // about 0.1 s at 44.1 kHz
constexpr int kAacMaxBitsPerChannelFrame = 6144;
constexpr int kAacFrameSamples = 1024;

Error unavailable(const std::string& why) {
    return Error{errc::kAacEncoder, errc::kEncoderUnavailable, "The AAC encoder can't be used: " + why};
}
Error encodeFailed(const std::string& why) {
    return Error{errc::kAacEncoder, errc::kEncodeFailed, "AAC encoding failed: " + why};
}
Error outputFailed(const fs::path& output, const std::string& why) {
    return Error{errc::kAacEncoder, errc::kOutputFailed,
                 "The file \"" + output.filename().string() + "\" couldn't be written: " + why};
}

struct FifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
// Closes the file (when opened) and frees the muxer.
struct OutputDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

// The rate the AAC stream is encoded at: the input's own when the encoder lists it.
int chooseSampleRate(const AVCodec& codec, double inputRate) {
    const double rounded = std::round(inputRate);
    const bool integral = rounded == inputRate && rounded > 0 && rounded < 1e7;
    if (integral && codec.supported_samplerates) {
        for (const int* rate = codec.supported_samplerates; *rate != 0; ++rate) {
            if (*rate == static_cast<int>(rounded)) return *rate;
        }
    } else if (integral && !codec.supported_samplerates) {
        return static_cast<int>(rounded);
    }
    return integral && static_cast<int64_t>(rounded) % 11025 == 0 ? 44100 : 48000;
}

// The layout the stream is encoded in: one the encoder lists with `channelCount` channels, else
// (FFmpeg 5.1 lists none for AAC) FFmpeg's default layout of that count, which the encoder accepts
// or refuses when it is opened.
bool chooseLayout(const AVCodec& codec, int channelCount, AVChannelLayout& layout) {
    if (codec.ch_layouts) {
        for (const AVChannelLayout* listed = codec.ch_layouts; listed->nb_channels != 0; ++listed) {
            if (listed->nb_channels == channelCount) return av_channel_layout_copy(&layout, listed) >= 0;
        }
        return false;
    }
    av_channel_layout_default(&layout, channelCount);
    return true;
}

}  // namespace

struct AacEncoder::State {
    std::unique_ptr<AudioFileReader> reader;
    int64_t inputFrames = 0;
    int inputRate = 0;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> codec;
    std::unique_ptr<SwrContext, ResamplerDeleter> resampler;  // null when the rate is kept
    std::optional<JpegImage> cover;
    bool fastStart = false;
    bool used = false;
    bool fileOpened = false;  // the output file was created, so a failure must remove it
    ProgressHandler progress;
    CancellationCheck isCancelled;

    // Encoding-time state.
    AVFormatContext* output = nullptr;  // owned by encode()
    AVStream* audioStream = nullptr;
    std::unique_ptr<AVAudioFifo, FifoDeleter> fifo;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    int64_t samplesSent = 0;

    Status run(const fs::path& path);
    Status writeCover();
    Status pushSamples(float* const* channels, int frameCount);
    Status sendFrames(bool final);
    Status drainPackets();
};

AacEncoder::AacEncoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
AacEncoder::~AacEncoder() = default;

Result<std::unique_ptr<AacEncoder>> AacEncoder::create(const fs::path& input) {
    auto reader = AudioFileReader::open(input);
    if (!reader) return reader.error();
    return create(std::move(reader).value());
}

Result<std::unique_ptr<AacEncoder>> AacEncoder::create(std::unique_ptr<AudioFileReader> reader) {
    captureFfmpegLog();
    if (!reader) return unavailable("there is no input.");
    const AudioFormat format = reader->processingFormat();
    if (reader->length() <= 0) {
        return Error{errc::kAacEncoder, errc::kNoAudio, "The file holds no audio to encode."};
    }
    if (format.channelCount <= 0 || !(format.sampleRate > 0)) {
        return unavailable("the input's format is invalid.");
    }

    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    if (!aac) return unavailable("FFmpeg has no AAC encoder.");
    auto state = std::make_unique<State>();
    state->inputFrames = reader->length();
    state->inputRate = static_cast<int>(std::lround(format.sampleRate));
    const int outputRate = chooseSampleRate(*aac, format.sampleRate);

    state->codec.reset(avcodec_alloc_context3(aac));
    if (!state->codec) return unavailable("out of memory.");
    AVCodecContext& codec = *state->codec;
    codec.sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec.sample_rate = outputRate;
    if (!chooseLayout(*aac, format.channelCount, codec.ch_layout)) {
        return unavailable("AAC has no layout for " + std::to_string(format.channelCount) +
                           " channels.");
    }
    const int64_t frameCapBitRate =
        static_cast<int64_t>(kAacMaxBitsPerChannelFrame) * format.channelCount * outputRate /
        kAacFrameSamples;
    codec.bit_rate = std::min(kBitRatePerChannel * format.channelCount, frameCapBitRate);
    codec.time_base = AVRational{1, outputRate};
    codec.profile = FF_PROFILE_AAC_LOW;
    // MPEG-4 files carry the decoder configuration once, in the header.
    codec.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int opened = avcodec_open2(&codec, aac, nullptr); opened < 0) {
        return unavailable("it refuses " + std::to_string(format.channelCount) + " channels at " +
                           std::to_string(outputRate) + " Hz (" + ffmpegMessage(opened) + ").");
    }

    if (outputRate != state->inputRate || std::round(format.sampleRate) != format.sampleRate) {
        SwrContext* resampler = nullptr;
        if (swr_alloc_set_opts2(&resampler, &codec.ch_layout, AV_SAMPLE_FMT_FLTP, outputRate, &codec.ch_layout,
                                AV_SAMPLE_FMT_FLTP, state->inputRate, 0, nullptr) < 0 ||
            !resampler) {
            return unavailable("the resampler can't be made.");
        }
        state->resampler.reset(resampler);
        if (const int ready = swr_init(resampler); ready < 0) {
            return unavailable("the resampler can't be made: " + ffmpegMessage(ready) + ".");
        }
    }
    state->reader = std::move(reader);
    return std::unique_ptr<AacEncoder>(new AacEncoder(std::move(state)));
}

int AacEncoder::sampleRate() const { return state_->codec->sample_rate; }
int AacEncoder::channelCount() const { return state_->codec->ch_layout.nb_channels; }
int64_t AacEncoder::bitRate() const { return state_->codec->bit_rate; }
int64_t AacEncoder::inputFrameCount() const { return state_->inputFrames; }

void AacEncoder::setCoverArt(JpegImage cover) { state_->cover = std::move(cover); }
void AacEncoder::setFastStart(bool enabled) { state_->fastStart = enabled; }
void AacEncoder::setProgressHandler(ProgressHandler handler) { state_->progress = std::move(handler); }
void AacEncoder::setCancellationCheck(CancellationCheck check) {
    state_->isCancelled = std::move(check);
}

Status AacEncoder::encode(const fs::path& output) {
    if (state_->used) return encodeFailed("an encoder writes one file only.");
    state_->used = true;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(output, ec))) {
        return outputFailed(output, "a file with that name already exists.");
    }

    Status status = encodeFailed("out of memory.");
    bool created = false;
    {
        AVFormatContext* context = nullptr;
        // "ipod" is the M4A flavour of the MPEG-4 muxer, chosen whatever the file's extension.
        const int allocated =
            avformat_alloc_output_context2(&context, nullptr, "ipod", output.c_str());
        if (allocated < 0 || !context) return outputFailed(output, "the M4A muxer is missing.");
        std::unique_ptr<AVFormatContext, OutputDeleter> guard(context);
        state_->output = context;
        try {
            status = state_->run(output);
        } catch (const std::bad_alloc&) {
            status = encodeFailed("out of memory.");
        }
        created = state_->fileOpened;
        state_->output = nullptr;
        state_->audioStream = nullptr;
    }
    state_->fifo.reset();
    state_->frame.reset();
    state_->packet.reset();
    if (!status && created) fs::remove(output, ec);
    return status;
}

Status AacEncoder::State::run(const fs::path& path) {
    audioStream = avformat_new_stream(output, nullptr);
    if (!audioStream) return encodeFailed("out of memory.");
    if (avcodec_parameters_from_context(audioStream->codecpar, codec.get()) < 0) {
        return encodeFailed("out of memory.");
    }
    audioStream->time_base = codec->time_base;

    AVStream* coverStream = nullptr;
    if (cover) {
        coverStream = avformat_new_stream(output, nullptr);
        if (!coverStream) return encodeFailed("out of memory.");
        coverStream->disposition |= AV_DISPOSITION_ATTACHED_PIC;
        coverStream->time_base = AVRational{1, 90000};
        AVCodecParameters& parameters = *coverStream->codecpar;
        parameters.codec_type = AVMEDIA_TYPE_VIDEO;
        parameters.codec_id = AV_CODEC_ID_MJPEG;
        parameters.width = cover->width;
        parameters.height = cover->height;
    }

    if (const int opened = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE); opened < 0) {
        output->pb = nullptr;
        return outputFailed(path, ffmpegMessage(opened) + ".");
    }
    fileOpened = true;
    AVDictionary* options = nullptr;
    if (fastStart) av_dict_set(&options, "movflags", "+faststart", 0);
    const int headerWritten = avformat_write_header(output, &options);
    av_dict_free(&options);
    if (headerWritten < 0) return outputFailed(path, ffmpegMessage(headerWritten) + ".");

    if (coverStream) {
        if (Status written = writeCover(); !written) return written;
    }

    const int channels = codec->ch_layout.nb_channels;
    fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, 2 * kReadBlockFrames));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!fifo || !frame || !packet) return encodeFailed("out of memory.");
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = codec->sample_rate;
    frame->nb_samples = codec->frame_size > 0 ? codec->frame_size : kAacFrameSamples;
    if (av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0) {
        return encodeFailed("out of memory.");
    }

    auto block = PcmBuffer::allocate(reader->processingFormat(), kReadBlockFrames);
    if (!block) return encodeFailed("out of memory.");
    std::vector<std::vector<float>> resampled(static_cast<size_t>(channels));
    std::vector<float*> resampledPointers(static_cast<size_t>(channels));

    // Feeds `frames` of resampler output (flushing when `input` is null) into the FIFO.
    auto resample = [&](const float* const* input, int frames) -> Status {
        const int capacity = swr_get_out_samples(resampler.get(), frames);
        if (capacity < 0) return encodeFailed("the resampler failed.");
        for (int c = 0; c < channels; ++c) {
            auto& samples = resampled[static_cast<size_t>(c)];
            if (samples.size() < static_cast<size_t>(capacity)) samples.resize(static_cast<size_t>(capacity));
            resampledPointers[static_cast<size_t>(c)] = samples.data();
        }
        const int produced = swr_convert(
            resampler.get(), reinterpret_cast<uint8_t**>(resampledPointers.data()), capacity,
            const_cast<const uint8_t**>(reinterpret_cast<const uint8_t* const*>(input)), frames);
        if (produced < 0) return encodeFailed("the resampler failed: " + ffmpegMessage(produced) + ".");
        return pushSamples(resampledPointers.data(), produced);
    };

    reader->setFramePosition(0);
    int64_t framesRead = 0;
    double reportedFraction = -1.0;
    while (framesRead < inputFrames) {
        if (isCancelled && isCancelled()) return cancelledError();
        if (Status read = reader->read(*block); !read) return read.error();
        const uint32_t got = block->frameLength();
        if (got == 0) break;  // the decoder ended early: encode what there is
        framesRead += got;
        const int count = static_cast<int>(got);
        Status fed = resampler ? resample(block->floatChannelData(), count)
                               : pushSamples(block->floatChannelData(), count);
        if (!fed) return fed;
        if (progress) {
            const double fraction = static_cast<double>(framesRead) / static_cast<double>(inputFrames);
            if (fraction - reportedFraction >= 0.01 || framesRead >= inputFrames) {
                reportedFraction = fraction;
                progress(std::min(fraction, 1.0));
            }
        }
    }
    if (isCancelled && isCancelled()) return cancelledError();
    if (resampler) {
        if (Status flushed = resample(nullptr, 0); !flushed) return flushed;
    }
    if (Status sent = sendFrames(true); !sent) return sent;
    if (const int ended = avcodec_send_frame(codec.get(), nullptr); ended < 0) {
        return encodeFailed(ffmpegMessage(ended) + ".");
    }
    if (Status drained = drainPackets(); !drained) return drained;
    if (samplesSent == 0) return Error{errc::kAacEncoder, errc::kNoAudio, "The file holds no audio to encode."};

    if (const int finished = av_write_trailer(output); finished < 0) {
        return outputFailed(path, ffmpegMessage(finished) + ".");
    }
    if (const int closed = avio_closep(&output->pb); closed < 0) {
        return outputFailed(path, ffmpegMessage(closed) + ".");
    }
    return {};
}

Status AacEncoder::State::writeCover() {
    const int index = static_cast<int>(output->nb_streams) - 1;
    if (cover->data.empty() || cover->data.size() > static_cast<size_t>(INT32_MAX / 2)) {
        return encodeFailed("the cover picture is empty or too large.");
    }
    std::unique_ptr<AVPacket, PacketDeleter> picture(av_packet_alloc());
    if (!picture || av_new_packet(picture.get(), static_cast<int>(cover->data.size())) < 0) {
        return encodeFailed("out of memory.");
    }
    std::copy(cover->data.begin(), cover->data.end(), picture->data);
    picture->stream_index = index;
    picture->flags |= AV_PKT_FLAG_KEY;
    picture->pts = 0;
    picture->dts = 0;
    if (const int written = av_write_frame(output, picture.get()); written < 0) {
        return encodeFailed("the cover could not be stored: " + ffmpegMessage(written) + ".");
    }
    return {};
}

Status AacEncoder::State::pushSamples(float* const* channels, int frameCount) {
    if (frameCount <= 0) return {};
    if (av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(const_cast<float**>(channels)),
                            frameCount) < frameCount) {
        return encodeFailed("out of memory.");
    }
    return sendFrames(false);
}

// Sends every whole frame waiting in the FIFO to the encoder; with `final`, the short rest too.
Status AacEncoder::State::sendFrames(bool final) {
    const int frameSize = codec->frame_size > 0 ? codec->frame_size : kAacFrameSamples;
    for (;;) {
        const int waiting = av_audio_fifo_size(fifo.get());
        if (waiting == 0 || (waiting < frameSize && !final)) return {};
        const int count = std::min(waiting, frameSize);
        if (av_frame_make_writable(frame.get()) < 0) return encodeFailed("out of memory.");
        frame->nb_samples = count;
        if (av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->extended_data), count) <
            count) {
            return encodeFailed("the sample queue failed.");
        }
        frame->pts = samplesSent;
        samplesSent += count;
        if (const int sent = avcodec_send_frame(codec.get(), frame.get()); sent < 0) {
            return encodeFailed(ffmpegMessage(sent) + ".");
        }
        if (Status drained = drainPackets(); !drained) return drained;
    }
}

Status AacEncoder::State::drainPackets() {
    for (;;) {
        const int received = avcodec_receive_packet(codec.get(), packet.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return {};
        if (received < 0) return encodeFailed(ffmpegMessage(received) + ".");
        av_packet_rescale_ts(packet.get(), codec->time_base, audioStream->time_base);
        packet->stream_index = audioStream->index;
        const int written = av_write_frame(output, packet.get());
        av_packet_unref(packet.get());
        if (written < 0) return encodeFailed("the file could not be written: " + ffmpegMessage(written) + ".");
    }
}

}  // namespace korvanta
