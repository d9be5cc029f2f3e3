// Loudness, peak and loud-part RMS of an audio file, measured on its central two minutes.
#pragma once

#include <filesystem>
#include <vector>

#include "engine/AudioStats.h"
#include "engine/DeliveryMeasurement.h"
#include "platform/Error.h"
#include "platform/PcmBuffer.h"

namespace korvanta {

class AudioFileReader;
struct DecodedAudio;

// Measures `path` (see the implementation file for the exact procedure). Keeps no state; any
// number of calls may run at once on any threads.
// Errors: whatever opening or reading the file gives (passed on unchanged);
//   "KorvantaApp" 4 "Audio file is empty" when the file has no frames;
//   "KorvantaApp" 2 "Nu s-a putut crea buffer-ul audio" when the analysis buffer cannot be made.
// Silence never fails: it gives about −449.7 LUFS, −897.1 dB peak and −896.7 dB RMS.
//
// With MeasurementScope::wholeSong (the default) the delivery figures (true peak, LUFS (R128)) of
// the whole song are added: the rest of the file is read in blocks beside the window. With
// MeasurementScope::window only the window is read and they stay NaN.
enum class MeasurementScope { window, wholeSong };
Result<AudioStats> analyzeAudioFile(const std::filesystem::path& path,
                                    MeasurementScope scope = MeasurementScope::wholeSong);

// The same measurement of a file the caller has opened: the figures are those analyzeAudioFile()
// gives for the file `file` reads. The read position is set by the measurement (the window's
// start) whatever it was, and left past what was read. Errors as above, bar opening.
Result<AudioStats> analyzeAudioFile(AudioFileReader& file, MeasurementScope scope = MeasurementScope::wholeSong);

// The same measurement of a song decoded into memory: the figures analyzeAudioFile() gives for the
// file `audio` was decoded from, measured in place (nothing is copied). Errors: "KorvantaApp" 4
// "Audio file is empty" when it has no frames.
Result<AudioStats> analyzeAudioFile(const DecodedAudio& audio,
                                    MeasurementScope scope = MeasurementScope::wholeSong);

// The delivery figures of everything `file` reads, from frame 0 to its end, in blocks (the read
// position is left at the end). Errors: reading the file, passed on; "KorvantaApp" 2 when the
// block buffer cannot be made.
Result<DeliveryFigures> measureDelivery(AudioFileReader& file);

// The frames the measurement reads from a file of `length` frames at `format`: at most 120 s,
// centred when the file is longer.
struct MeasurementWindow {
    int64_t firstFrame = 0;
    uint32_t frameCount = 0;
};
MeasurementWindow measurementWindow(const AudioFormat& format, int64_t length);

}  // namespace korvanta
