// korvanta-cli analyze [--json] FILE...
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <thread>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "engine/LoudnessMeter.h"
#include "platform/AudioFileReader.h"

namespace korvanta::cli {

namespace {

struct FileReport {
    std::string file;
    std::optional<Error> error;
    AudioStats stats;
    double durationSeconds = 0.0;
    double sampleRate = 0.0;
    int channelCount = 0;
};

FileReport analyzeOne(const std::string& file) {
    FileReport report;
    report.file = file;
    auto reader = AudioFileReader::open(file);
    if (!reader) {
        report.error = reader.error();
        return report;
    }
    const AudioFormat format = reader.value()->processingFormat();
    report.sampleRate = format.sampleRate;
    report.channelCount = format.channelCount;
    report.durationSeconds = static_cast<double>(reader.value()->length()) / format.sampleRate;
    reader.value().reset();

    auto stats = analyzeAudioFile(file);
    if (!stats) {
        report.error = stats.error();
        return report;
    }
    report.stats = stats.value();
    return report;
}

// Measures every file, two at a time, keeping the order of the command line.
std::vector<FileReport> analyzeAll(const std::vector<std::string>& files) {
    std::vector<FileReport> reports(files.size());
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i; (i = next++) < files.size();) reports[i] = analyzeOne(files[i]);
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < std::min<size_t>(threads, files.size()); ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    return reports;
}

}  // namespace

int runAnalyze(const std::vector<std::string>& args) {
    auto parsed = parseArguments(args, {"--json"}, {});
    if (auto* message = std::get_if<std::string>(&parsed)) return usageError(*message);
    const Arguments& arguments = std::get<Arguments>(parsed);
    if (arguments.positional.empty()) return usageError("analyze needs at least one FILE");

    const auto reports = analyzeAll(arguments.positional);
    bool anyFailed = false;

    if (arguments.has("--json")) {
        for (const auto& r : reports) {
            if (r.error) {
                anyFailed = true;
                printJsonLine({{"file", r.file}, {"error", errorJson(*r.error)}});
                continue;
            }
            printJsonLine({{"file", r.file},
                           {"lufs", jsonNumber(r.stats.lufs)},
                           {"peak", jsonNumber(r.stats.peak)},
                           {"rms", jsonNumber(r.stats.rms)},
                           {"truePeak", jsonNumber(r.stats.truePeak)},
                           {"lufsR128", jsonNumber(r.stats.lufsR128)},
                           {"duration", r.durationSeconds},
                           {"sampleRate", r.sampleRate},
                           {"channels", r.channelCount}});
        }
        return anyFailed ? kExitSomeFailed : kExitOk;
    }

    size_t nameWidth = 4;
    for (const auto& r : reports) {
        nameWidth = std::max(nameWidth, displayWidth(std::filesystem::path(r.file).filename().string()));
    }
    char head[160];
    std::snprintf(head, sizeof head, "%8s %12s %8s %10s %8s %9s %7s %3s", "LUFS", "LUFS (R128)", "PEAK",
                  "TRUE PEAK", "RMS", "DURATION", "RATE", "CH");
    std::cout << padRight("FILE", nameWidth) << "  " << head << "\n";
    for (const auto& r : reports) {
        const std::string name = std::filesystem::path(r.file).filename().string();
        if (r.error) {
            anyFailed = true;
            std::cout << padRight(name, nameWidth) << "  error: " << r.error->description() << "\n";
            continue;
        }
        char line[160];
        std::snprintf(line, sizeof line, "%8s %12s %8s %10s %8s %9s %7.0f %3d",
                      formatDecibels(r.stats.lufs).c_str(), formatDecibels(r.stats.lufsR128).c_str(),
                      formatDecibels(r.stats.peak).c_str(), formatDecibels(r.stats.truePeak).c_str(),
                      formatDecibels(r.stats.rms).c_str(),
                      formatDuration(r.durationSeconds).c_str(), r.sampleRate, r.channelCount);
        std::cout << padRight(name, nameWidth) << "  " << line << "\n";
    }
    return anyFailed ? kExitSomeFailed : kExitOk;
}

}  // namespace korvanta::cli
