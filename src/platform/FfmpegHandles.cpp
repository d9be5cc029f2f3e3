#include "platform/FfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace korvanta {

void InputFormatDeleter::operator()(AVFormatContext* context) const { avformat_close_input(&context); }
void CodecContextDeleter::operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
void FrameDeleter::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void PacketDeleter::operator()(AVPacket* packet) const { av_packet_free(&packet); }
void ResamplerDeleter::operator()(SwrContext* context) const { swr_free(&context); }
void ScalerDeleter::operator()(SwsContext* context) const { sws_freeContext(context); }

std::string ffmpegMessage(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace korvanta
