#include "export/EncodedTruePeak.h"

#include <cstdio>
#include <vector>

#include "engine/TruePeakMeter.h"
#include "platform/AudioFileReader.h"

namespace korvanta {

Result<float> measureFileTruePeak(const std::filesystem::path& path) {
    auto opened = AudioFileReader::open(path);
    if (!opened) return opened.error();
    AudioFileReader& reader = *opened.value();
    const AudioFormat format = reader.processingFormat();
    TruePeakMeter meter;
    meter.prepare(format.channelCount, format.sampleRate);
    constexpr uint32_t kChunkFrames = 32768;
    std::vector<std::vector<float>> storage(static_cast<size_t>(format.channelCount),
                                            std::vector<float>(kChunkFrames));
    std::vector<float*> channels;
    for (auto& c : storage) channels.push_back(c.data());
    while (true) {
        auto read = reader.read(channels.data(), kChunkFrames);
        if (!read) return read.error();
        if (read.value() == 0) break;
        meter.process(channels.data(), read.value());
    }
    return meter.truePeakDb();
}

std::string encodedTruePeakWarning(float truePeakDb) {
    if (!(truePeakDb > kEncodedTruePeakLimitDbtp)) return {};
    char text[128];
    std::snprintf(text, sizeof text, "M4A true peak %+.1f dBTP \u2014 may distort after encoding on some players",
                  double(truePeakDb));
    return text;
}

}  // namespace korvanta
