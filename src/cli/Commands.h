// The commands of korvanta-cli. Each takes the arguments after its name and returns the exit
// status: 0 when every file succeeded, 1 when any failed, 2 for a usage error.
#pragma once

#include <string>
#include <vector>

namespace korvanta::cli {

int runAnalyze(const std::vector<std::string>& args);
int runTempo(const std::vector<std::string>& args);
int runSpectrum(const std::vector<std::string>& args);
// `master` (eqMode false) and `eq` (eqMode true).
int runMaster(const std::vector<std::string>& args, bool eqMode);

}  // namespace korvanta::cli
