// Owning handles for FFmpeg objects, and FFmpeg's text for an error code: shared by the decoder,
// the AAC encoder and the cover-art converter.
#pragma once

#include <memory>
#include <string>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;
struct SwsContext;

namespace korvanta {

struct InputFormatDeleter {
    void operator()(AVFormatContext* context) const;  // avformat_close_input
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const;
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const;
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const;
};
struct ResamplerDeleter {
    void operator()(SwrContext* context) const;
};
struct ScalerDeleter {
    void operator()(SwsContext* context) const;
};

// av_strerror's text for `code`.
std::string ffmpegMessage(int code);

}  // namespace korvanta
