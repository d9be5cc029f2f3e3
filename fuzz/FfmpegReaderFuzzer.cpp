// Fuzz target: songs opened through FFmpeg (M4A, AAC, header-less MP3 and whatever else FFmpeg
// reads that libsndfile refuses) and read as the mastering pipeline reads them. Every format is
// offered to FFmpeg, as every file libsndfile does not take reaches it. Input: see
// AudioInputFile.h.
#include <cstdint>
#include <variant>

#include "AudioInputFile.h"
#include "ReadLikeThePipeline.h"
#include "platform/FfmpegLogging.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    korvanta::silenceFfmpegLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvanta;
    fuzz::AudioInputFile& file = fuzz::audioInputFile();
    const auto path = file.write(data, size);
    if (path.empty()) return 0;
    DecoderOpening opening = openWithFfmpeg(path);
    if (auto* decoder = std::get_if<std::unique_ptr<AudioDecoder>>(&opening)) {
        fuzz::readLikeThePipeline(std::move(*decoder), path, /*exactLength=*/true);
    }
    file.remove(path);
    return 0;
}
