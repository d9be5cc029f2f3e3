#include "export/CoverArt.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "platform/FfmpegHandles.h"
#include "platform/FfmpegLogging.h"

namespace korvanta {

namespace {

Error notAnImage(const std::string& why) {
    return Error{errc::kCoverArt, errc::kNotAnImage, "The cover image can't be read: " + why};
}

// An RGB24 picture, rows packed without padding.
struct RgbImage {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
};

// ---- Reading the bytes through libavformat from memory ----

struct MemorySource {
    const uint8_t* data = nullptr;
    int64_t size = 0;
    int64_t position = 0;
};

int readFromMemory(void* opaque, uint8_t* buffer, int capacity) {
    auto* source = static_cast<MemorySource*>(opaque);
    const int64_t left = source->size - source->position;
    if (left <= 0) return AVERROR_EOF;
    const int count = static_cast<int>(left < capacity ? left : capacity);
    std::memcpy(buffer, source->data + source->position, static_cast<size_t>(count));
    source->position += count;
    return count;
}

int64_t seekInMemory(void* opaque, int64_t offset, int whence) {
    auto* source = static_cast<MemorySource*>(opaque);
    if (whence & AVSEEK_SIZE) return source->size;
    int64_t target = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET: target = offset; break;
        case SEEK_CUR: target = source->position + offset; break;
        case SEEK_END: target = source->size + offset; break;
        default: return AVERROR(EINVAL);
    }
    if (target < 0 || target > source->size) return AVERROR(EINVAL);
    source->position = target;
    return target;
}

struct IoContextDeleter {
    void operator()(AVIOContext* io) const {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

// Decodes the first picture of an image file held in memory.
Result<std::unique_ptr<AVFrame, FrameDeleter>> decodeFirstPicture(const Bytes& bytes) {
    if (bytes.empty()) return notAnImage("there are no image bytes.");
    if (bytes.size() > static_cast<size_t>(INT32_MAX)) return notAnImage("the file is too large.");

    // Format probing reads past the data: it must be followed by zeroed padding.
    std::vector<uint8_t> probeBuffer(bytes.size() + AVPROBE_PADDING_SIZE, 0);
    std::memcpy(probeBuffer.data(), bytes.data(), bytes.size());
    AVProbeData probe{};
    probe.buf = probeBuffer.data();
    probe.buf_size = static_cast<int>(bytes.size());
    probe.filename = "";
    const AVInputFormat* inputFormat = av_probe_input_format(&probe, 1);
    if (!inputFormat) return notAnImage("the format is not recognised.");

    MemorySource source{bytes.data(), static_cast<int64_t>(bytes.size()), 0};
    constexpr int kIoBufferSize = 64 * 1024;
    auto* ioBuffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!ioBuffer) return notAnImage("out of memory.");
    std::unique_ptr<AVIOContext, IoContextDeleter> io(
        avio_alloc_context(ioBuffer, kIoBufferSize, 0, &source, readFromMemory, nullptr, seekInMemory));
    if (!io) {
        av_free(ioBuffer);
        return notAnImage("out of memory.");
    }

    AVFormatContext* rawFormat = avformat_alloc_context();
    if (!rawFormat) return notAnImage("out of memory.");
    rawFormat->pb = io.get();
    rawFormat->flags |= AVFMT_FLAG_CUSTOM_IO;
    // On failure avformat_open_input frees the context itself.
    if (avformat_open_input(&rawFormat, nullptr, inputFormat, nullptr) < 0) {
        return notAnImage("the file could not be opened as an image.");
    }
    std::unique_ptr<AVFormatContext, InputFormatDeleter> format(rawFormat);

    int streamIndex = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            streamIndex = static_cast<int>(i);
            break;
        }
    }
    if (streamIndex < 0) return notAnImage("it holds no picture.");
    const AVCodecParameters* parameters = format->streams[streamIndex]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder) return notAnImage("there is no decoder for its format.");

    std::unique_ptr<AVCodecContext, CodecContextDeleter> codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), parameters) < 0) {
        return notAnImage("out of memory.");
    }
    codec->thread_count = 1;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        return notAnImage("the decoder could not be opened.");
    }

    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    if (!packet || !frame) return notAnImage("out of memory.");

    bool flushing = false;
    for (;;) {
        const int received = avcodec_receive_frame(codec.get(), frame.get());
        if (received >= 0) return frame;
        if (received != AVERROR(EAGAIN) || flushing) break;  // error or fully drained

        const int read = av_read_frame(format.get(), packet.get());
        if (read < 0) {
            flushing = true;
            if (avcodec_send_packet(codec.get(), nullptr) < 0) break;
            continue;
        }
        if (packet->stream_index == streamIndex) {
            // A damaged packet is skipped: a later one may still hold a picture.
            (void)avcodec_send_packet(codec.get(), packet.get());
        }
        av_packet_unref(packet.get());
    }
    return notAnImage("no picture could be decoded.");
}

// The decoded picture as RGB24, with transparent pixels laid over white.
Result<RgbImage> toRgb(const AVFrame& frame) {
    const int width = frame.width;
    const int height = frame.height;
    if (width <= 0 || height <= 0) return notAnImage("the picture has no size.");
    if (static_cast<long long>(width) * height > kMaxCoverPixels) {
        return Error{errc::kCoverArt, errc::kImageTooLarge,
                     "The cover image is too large (" + std::to_string(width) + " × " +
                         std::to_string(height) + " pixels)."};
    }

    auto sourceFormat = static_cast<AVPixelFormat>(frame.format);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(sourceFormat);
    if (!descriptor) return notAnImage("the picture's pixel format is unknown.");
    // The "J" formats are full-range YUV under an old name; swscale wants the plain name plus a
    // range setting.
    bool fullRange = frame.color_range == AVCOL_RANGE_JPEG;
    switch (sourceFormat) {
        case AV_PIX_FMT_YUVJ420P: sourceFormat = AV_PIX_FMT_YUV420P; fullRange = true; break;
        case AV_PIX_FMT_YUVJ422P: sourceFormat = AV_PIX_FMT_YUV422P; fullRange = true; break;
        case AV_PIX_FMT_YUVJ444P: sourceFormat = AV_PIX_FMT_YUV444P; fullRange = true; break;
        case AV_PIX_FMT_YUVJ440P: sourceFormat = AV_PIX_FMT_YUV440P; fullRange = true; break;
        case AV_PIX_FMT_YUVJ411P: sourceFormat = AV_PIX_FMT_YUV411P; fullRange = true; break;
        default: break;
    }
    const bool hasAlpha = (descriptor->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL)) != 0;
    const AVPixelFormat targetFormat = hasAlpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
    const int targetChannels = hasAlpha ? 4 : 3;

    std::unique_ptr<SwsContext, ScalerDeleter> scaler(
        sws_getContext(width, height, sourceFormat, width, height, targetFormat,
                       SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
    if (!scaler) return notAnImage("its pixel format can't be converted.");
    // Only YUV sources take a range setting here: swscale knows gray and RGB to be full range.
    const bool isYuv = !(descriptor->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) &&
                       descriptor->nb_components >= 3;
    if (isYuv) {
        const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(scaler.get(), coefficients, fullRange ? 1 : 0, coefficients, 1, 0,
                                 1 << 16, 1 << 16);
    }

    const size_t rowBytes = static_cast<size_t>(width) * targetChannels;
    std::vector<uint8_t> converted(rowBytes * static_cast<size_t>(height));
    uint8_t* targetPlanes[4] = {converted.data(), nullptr, nullptr, nullptr};
    const int targetStrides[4] = {static_cast<int>(rowBytes), 0, 0, 0};
    const int rows = sws_scale(scaler.get(), frame.data, frame.linesize, 0, height, targetPlanes,
                               targetStrides);
    if (rows != height) return notAnImage("its pixels could not be converted.");

    RgbImage image;
    image.width = width;
    image.height = height;
    if (!hasAlpha) {
        image.pixels = std::move(converted);
        return image;
    }
    image.pixels.resize(static_cast<size_t>(width) * height * 3);
    const size_t pixelCount = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < pixelCount; ++i) {
        const uint8_t* rgba = &converted[i * 4];
        const unsigned alpha = rgba[3];
        for (int c = 0; c < 3; ++c) {
            // colour · α + white · (1 − α), rounded, in 8-bit fixed point.
            image.pixels[i * 3 + c] =
                static_cast<uint8_t>((rgba[c] * alpha + 255u * (255u - alpha) + 127u) / 255u);
        }
    }
    return image;
}

// ---- Encoding with libjpeg ----

struct JpegErrorHandler {
    jpeg_error_mgr manager;  // first member: libjpeg sees this struct through its address
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void exitOnJpegError(j_common_ptr info) {
    auto* handler = reinterpret_cast<JpegErrorHandler*>(info->err);
    (*info->err->format_message)(info, handler->message);
    std::longjmp(handler->jump, 1);
}

void ignoreJpegMessage(j_common_ptr) {}

// Encodes packed RGB24 rows as a baseline JPEG. Returns false and a message on failure. Holds only
// trivially destructible locals, as longjmp skips destructors.
bool encodeJpeg(const RgbImage& image, int quality, unsigned char** output, unsigned long* outputSize,
                char* message) {
    jpeg_compress_struct info;
    JpegErrorHandler handler;
    info.err = jpeg_std_error(&handler.manager);
    handler.manager.error_exit = exitOnJpegError;
    handler.manager.output_message = ignoreJpegMessage;
    handler.message[0] = '\0';
    if (setjmp(handler.jump)) {
        std::memcpy(message, handler.message, JMSG_LENGTH_MAX);
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, output, outputSize);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);  // baseline Huffman coding; progression needs jpeg_simple_progression
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const size_t stride = static_cast<size_t>(image.width) * 3;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.pixels.data() + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

Result<JpegImage> makeCoverJpeg(const Bytes& imageBytes) {
    captureFfmpegLog();
    try {
        auto frame = decodeFirstPicture(imageBytes);
        if (!frame) return frame.error();
        auto rgb = toRgb(*frame.value());
        if (!rgb) return rgb.error();

        unsigned char* encoded = nullptr;
        unsigned long encodedSize = 0;
        char message[JMSG_LENGTH_MAX] = {};
        const bool ok = encodeJpeg(rgb.value(), kCoverJpegQuality, &encoded, &encodedSize, message);
        // jpeg_mem_dest allocates with malloc; it may hold a partial buffer after a failure.
        std::unique_ptr<unsigned char, decltype(&std::free)> owned(encoded, &std::free);
        if (!ok || !encoded || encodedSize == 0) {
            return Error{errc::kCoverArt, errc::kJpegEncodeFailed,
                         std::string("The cover image could not be encoded as JPEG: ") + message};
        }
        JpegImage jpeg;
        jpeg.data.assign(encoded, encoded + encodedSize);
        jpeg.width = rgb->width;
        jpeg.height = rgb->height;
        return jpeg;
    } catch (const std::bad_alloc&) {
        return Error{errc::kCoverArt, errc::kImageTooLarge,
                     "There is not enough memory to prepare the cover image."};
    }
}

}  // namespace korvanta
