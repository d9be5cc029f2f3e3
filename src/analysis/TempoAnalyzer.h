// A coarse tempo estimate for the limiter: a loudness envelope of 0.1-second blocks correlated
// with sinusoids at the candidate tempos 70, 72, ..., 170 BPM.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform/Error.h"

namespace korvanta {

class AudioFileReader;
struct DecodedAudio;

class BPMAnalyzer {
public:
    static constexpr int MIN_BPM = 70;
    static constexpr int MAX_BPM = 170;
    static constexpr int BASE_SPLIT_SAMPLE_SIZE = 4410;  // samples per envelope block

    BPMAnalyzer() = delete;

    // The tempo of the file at `path` in BPM, truncated toward zero: always an even number in
    // 70...170. Reads at most the first 120 seconds of the file.
    //
    // 120 (and no error) when the file does not exist, has 1024 frames or fewer, is silent, or no
    // tempo stands out. Errors: those of AudioFileReader::open and read, passed on unchanged.
    //
    // Results are kept in a process-wide cache of the 25 most recently used paths; a cached path is
    // answered without touching the file, even when the file has changed or gone since.
    // Thread-safe; blocks while it decodes.
    static Result<int> detectTempo(const std::filesystem::path& path);

    // The same for a song cached under `cacheKey` (its own path) whose audio is read from
    // `readFrom`, e.g. a decoded copy of it.
    static Result<int> detectTempo(const std::filesystem::path& readFrom, const std::string& cacheKey);

    // The same for a song cached under `cacheKey` whose audio the caller has opened, e.g. one
    // decoded into memory: the estimate is the one the path versions give for the file `reader`
    // reads. Reading starts at frame 0 whatever the reader's position; the position is left after
    // what was read. Not used (nor touched) when `cacheKey` is cached. Errors: those of read.
    static Result<int> detectTempo(AudioFileReader& reader, const std::string& cacheKey);

    // The same for a song cached under `cacheKey` whose samples are in memory, e.g. decoded once:
    // the estimate the path versions give for the file `audio` was decoded from. Never fails.
    static Result<int> detectTempo(const DecodedAudio& audio, const std::string& cacheKey);

    // Block RMS values of `samples` in blocks of `blockSize` samples, divided by the largest value
    // when that is above 0 (so the loudest block is 1). There are samples.size() / blockSize
    // blocks, the incomplete tail being ignored; empty when samples.size() <= blockSize or
    // blockSize < 1.
    static std::vector<float> envelope(std::span<const float> samples, int blockSize);

    // The candidate tempo (70, 72, ..., 170 BPM) whose sinusoid correlates most strongly with the
    // envelope, which has sampleRate / blockSize values per second. Ties go to the slower tempo.
    // 120 when no candidate correlates at all, and for invalid input: an empty envelope,
    // blockSize < 1, a sample rate not above 0, or an envelope rate that is not finite.
    static double estimateFromEnvelope(std::span<const float> envelope, int blockSize,
                                       double sampleRate);

    // Forgets every cached tempo (tests, and a user who asks for a fresh analysis).
    static void clearCache();
};

}  // namespace korvanta
