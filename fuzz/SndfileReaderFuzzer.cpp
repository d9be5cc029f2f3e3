// Fuzz target: songs opened through libsndfile (WAV, AIFF, FLAC, Ogg, MP3 with a frame-count
// header) and read as the mastering pipeline reads them. Input: see AudioInputFile.h.
#include <cstdint>
#include <variant>

#include "AudioInputFile.h"
#include "ReadLikeThePipeline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvanta;
    fuzz::AudioInputFile& file = fuzz::audioInputFile();
    const auto path = file.write(data, size);
    if (path.empty()) return 0;
    DecoderOpening opening = openWithSndfile(path);
    if (auto* decoder = std::get_if<std::unique_ptr<AudioDecoder>>(&opening)) {
        // libsndfile may read damaged files short: no exact length is asked of it.
        fuzz::readLikeThePipeline(std::move(*decoder), path, /*exactLength=*/false);
    }
    file.remove(path);
    return 0;
}
