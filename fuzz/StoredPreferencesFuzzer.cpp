// Fuzz target: whatever the preferences store holds (the user's file can be damaged or edited by
// hand), read by every loader of the core and every typed getter.
//
// Input: one record per line, "<kind><key>=<value>", the kind one of b (bool: the value is
// "1"), f (float, the value's text through strtof), d (double, strtod), s (string), x (bytes).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/AudioSettings.h"
#include "eq/EQSettings.h"
#include "export/ExportFormat.h"
#include "platform/Preferences.h"
#include "reference/ReferenceProfileStore.h"

namespace {

void storeRecord(korvanta::MemoryPreferences& store, std::string_view record) {
    const size_t equals = record.find('=');
    if (record.empty() || equals == std::string_view::npos) return;
    const std::string key(record.substr(1, equals - 1));
    const std::string value(record.substr(equals + 1));
    switch (record[0]) {
        case 'b': store.setBool(key, value == "1"); break;
        case 'f': store.setFloat(key, std::strtof(value.c_str(), nullptr)); break;
        case 'd': store.setDouble(key, std::strtod(value.c_str(), nullptr)); break;
        case 's': store.setString(key, value); break;
        case 'x': store.setBytes(key, korvanta::Bytes(value.begin(), value.end())); break;
        default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvanta;
    MemoryPreferences store;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        storeRecord(store, text.substr(start, end - start));
        start = end + 1;
    }

    for (const auto& key : store.keys()) {
        (void)store.boolValue(key);
        (void)store.floatValue(key);
        (void)store.doubleValue(key);
        (void)store.stringValue(key);
        (void)store.bytesValue(key);
    }
    (void)presetTargetLUFS(store);
    (void)savedExportFormat(store);
    (void)loadEQSettings(kEQSettingsKey, store);
    (void)loadEQSettings(kActiveEQSettingsKey, store);
    (void)loadProfile(store);
    (void)loadAudioSettings(store);
    resetPreferences(store);
    return 0;
}
