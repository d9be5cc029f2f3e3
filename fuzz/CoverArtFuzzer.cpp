// Fuzz target: cover images (the bytes of --cover or of the stored artwork) turned into the JPEG
// an M4A export carries.
#include <cstdint>

#include "export/CoverArt.h"
#include "platform/FfmpegLogging.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    korvanta::silenceFfmpegLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvanta;
    auto jpeg = makeCoverJpeg(Bytes(data, data + size));
    if (jpeg && (jpeg->data.size() < 4 || jpeg->width <= 0 || jpeg->height <= 0 ||
                 static_cast<long long>(jpeg->width) * jpeg->height > kMaxCoverPixels)) {
        __builtin_trap();  // a success must hold a JPEG of the picture's size
    }
    return 0;
}
