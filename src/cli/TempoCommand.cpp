// korvanta-cli tempo [--json] FILE...
#include <cstdio>

#include "analysis/TempoAnalyzer.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"

namespace korvanta::cli {

int runTempo(const std::vector<std::string>& args) {
    auto parsed = parseArguments(args, {"--json"}, {});
    if (auto* message = std::get_if<std::string>(&parsed)) return usageError(*message);
    const Arguments& arguments = std::get<Arguments>(parsed);
    if (arguments.positional.empty()) return usageError("tempo needs at least one FILE");

    size_t nameWidth = 4;
    for (const auto& f : arguments.positional) {
        nameWidth = std::max(nameWidth, displayWidth(std::filesystem::path(f).filename().string()));
    }
    bool anyFailed = false;
    for (const auto& file : arguments.positional) {
        auto bpm = BPMAnalyzer::detectTempo(file);
        anyFailed = anyFailed || !bpm;
        if (arguments.has("--json")) {
            if (bpm) printJsonLine({{"file", file}, {"bpm", bpm.value()}});
            else printJsonLine({{"file", file}, {"error", errorJson(bpm.error())}});
            continue;
        }
        const std::string name = padRight(std::filesystem::path(file).filename().string(), nameWidth);
        if (bpm) std::printf("%s  %3d BPM\n", name.c_str(), bpm.value());
        else std::printf("%s  error: %s\n", name.c_str(), bpm.error().description().c_str());
    }
    return anyFailed ? kExitSomeFailed : kExitOk;
}

}  // namespace korvanta::cli
