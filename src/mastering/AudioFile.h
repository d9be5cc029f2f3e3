// One imported song and what the batch has made of it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "engine/AudioStats.h"
#include "platform/Error.h"

namespace korvanta {

enum class ProcessingStatus { pending, processing, completed, failed };

const char* processingStatusName(ProcessingStatus status);  // "pending", "processing", …

struct AudioFile {
    std::string id;                 // random UUID
    std::filesystem::path url;      // the imported file; only ever read
    std::string filename;           // its last path component
    std::optional<double> duration;  // seconds
    double sampleRate = 0.0;  // Hz, of the imported file (0 when not known)
    int channelCount = 0;     // of the imported file (0 when not known)
    std::optional<AudioStats> originalStats;
    std::optional<AudioStats> masterStats;
    std::optional<AudioStats> finalStats;
    std::optional<std::filesystem::path> masterURL;  // the "_master" rendering
    std::optional<std::filesystem::path> finalURL;   // the "_final" rendering
    int masterBPM = 0;     // tempo the master's limiter used (0 before mastering)
    int masterPasses = 0;  // passes the master took (0 before mastering)
    std::optional<double> masterFirstGainDb;  // gain of the master's first pass, dB
    std::optional<Error> failure;  // why the last batch failed this song
    bool isSelected = true;
    ProcessingStatus processingStatus = ProcessingStatus::pending;
};

// What is learnt about a song when it is added.
struct AudioFileDetails {
    double duration = 0.0;  // seconds
    double sampleRate = 0.0;
    int channelCount = 0;
    std::optional<AudioStats> stats;
};

}  // namespace korvanta
