// korvanta-cli spectrum [--json] FILE...
#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "reference/ReferenceTrackAnalysis.h"
#include "reference/SpectralAnalyzer.h"

namespace korvanta::cli {

int runSpectrum(const std::vector<std::string>& args) {
    auto parsed = parseArguments(args, {"--json"}, {});
    if (auto* message = std::get_if<std::string>(&parsed)) return usageError(*message);
    const Arguments& arguments = std::get<Arguments>(parsed);
    if (arguments.positional.empty()) return usageError("spectrum needs at least one FILE");
    const bool json = arguments.has("--json");

    if (!json) {
        std::printf("%-28s", "FILE (band levels 0-10)");
        for (float centre : kBandCentres) {
            if (centre >= 1000.0f) std::printf(" %4.0fk", centre / 1000.0f);
            else std::printf(" %5.0f", centre);
        }
        std::printf("\n");
    }
    bool anyFailed = false;
    for (const auto& file : arguments.positional) {
        auto spectra = analyzeTrackSpectra(file);
        if (!spectra) {
            anyFailed = true;
            if (json) printJsonLine({{"file", file}, {"error", errorJson(spectra.error())}});
            else std::printf("%-28s error: %s\n", std::filesystem::path(file).filename().string().c_str(),
                             spectra.error().description().c_str());
            continue;
        }
        if (json) {
            printJsonLine({{"file", file},
                           {"bands", spectra->spectrum12Band},
                           {"profile",
                            {{"frequencies", spectra->profile.frequencies},
                             {"magnitudes", spectra->profile.magnitudes}}}});
            continue;
        }
        std::printf("%s", padRight(std::filesystem::path(file).filename().string(), 28).c_str());
        for (float level : spectra->spectrum12Band) std::printf(" %5.1f", level);
        std::printf("\n");
    }
    return anyFailed ? kExitSomeFailed : kExitOk;
}

}  // namespace korvanta::cli
