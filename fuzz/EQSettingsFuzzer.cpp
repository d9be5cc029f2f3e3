// Fuzz target: the equaliser settings JSON (the stored record and the CLI's --settings file).
// What decodes must encode and decode again to the same record.
#include <cstdint>
#include <string_view>

#include "eq/EQSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvanta;
    auto decoded = decodeEQSettings(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!decoded) return 0;
    auto again = decodeEQSettings(encodeEQSettings(decoded.value()));
    if (!again || !(again.value() == decoded.value())) __builtin_trap();
    return 0;
}
