// Fuzz target: the stored reference profile JSON. What decodes must encode and decode again to
// the same profile.
#include <cstdint>
#include <string_view>

#include "reference/SpectralProfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvanta;
    auto decoded = decodeSpectralProfile(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!decoded) return 0;
    auto encoded = encodeSpectralProfile(decoded.value());
    if (!encoded) __builtin_trap();
    auto again = decodeSpectralProfile(encoded.value());
    if (!again || !(again.value() == decoded.value())) __builtin_trap();
    return 0;
}
