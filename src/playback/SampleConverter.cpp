#include "playback/SampleConverter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace korvanta {

namespace {

AVSampleFormat avFormat(DeviceSampleType type) {
    switch (type) {
        case DeviceSampleType::uint8: return AV_SAMPLE_FMT_U8;
        case DeviceSampleType::int16: return AV_SAMPLE_FMT_S16;
        case DeviceSampleType::int32: return AV_SAMPLE_FMT_S32;
        case DeviceSampleType::float32: break;
    }
    return AV_SAMPLE_FMT_FLT;
}

}  // namespace

int DeviceFormat::bytesPerSample() const {
    switch (sampleType) {
        case DeviceSampleType::uint8: return 1;
        case DeviceSampleType::int16: return 2;
        case DeviceSampleType::int32:
        case DeviceSampleType::float32: break;
    }
    return 4;
}

std::unique_ptr<SampleConverter> SampleConverter::create(const AudioFormat& input, const DeviceFormat& output) {
    if (input.channelCount <= 0 || input.sampleRate <= 0 || output.channelCount <= 0 || output.sampleRate <= 0) {
        return nullptr;
    }
    AVChannelLayout inLayout{}, outLayout{};
    av_channel_layout_default(&inLayout, input.channelCount);
    av_channel_layout_default(&outLayout, output.channelCount);
    SwrContext* context = nullptr;
    const int rc = swr_alloc_set_opts2(&context, &outLayout, avFormat(output.sampleType), output.sampleRate,
                                       &inLayout, AV_SAMPLE_FMT_FLTP, static_cast<int>(input.sampleRate), 0,
                                       nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (rc < 0 || !context || swr_init(context) < 0) {
        swr_free(&context);
        return nullptr;
    }
    return std::unique_ptr<SampleConverter>(new SampleConverter(input, output, context));
}

SampleConverter::SampleConverter(const AudioFormat& input, const DeviceFormat& output, SwrContext* context)
    : input_(input), output_(output), context_(context) {}

SampleConverter::~SampleConverter() { swr_free(&context_); }

void SampleConverter::convert(const float* const* channels, uint32_t frameCount, std::vector<uint8_t>& out) {
    if (frameCount == 0) return;
    const int room = swr_get_out_samples(context_, static_cast<int>(frameCount));
    if (room <= 0) return;
    const size_t start = out.size();
    out.resize(start + size_t(room) * size_t(output_.bytesPerFrame()));
    uint8_t* target = out.data() + start;
    // swr_convert reads the input planes only; its prototype predates const-correct pointers.
    auto** planes = const_cast<const uint8_t**>(reinterpret_cast<const uint8_t* const*>(channels));
    const int made = swr_convert(context_, &target, room, planes, static_cast<int>(frameCount));
    out.resize(start + size_t(std::max(made, 0)) * size_t(output_.bytesPerFrame()));
}

void SampleConverter::reset() {
    swr_close(context_);
    swr_init(context_);
}

}  // namespace korvanta
