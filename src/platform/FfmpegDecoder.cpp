// Placeholder until the FFmpeg backend lands: takes no file.
#include "platform/AudioDecoder.h"
namespace korvanta {
DecoderOpening openWithFfmpeg(const std::filesystem::path&) { return NotMine{}; }
}  // namespace korvanta
