// The commands of korvanta-cli. Each takes the arguments after its name and returns the exit
// status: 0 when every file succeeded, 1 when any failed, 2 for a usage error.
#pragma once

#include <string>
#include <vector>

namespace korvanta::cli {

int runAnalyze(const std::vector<std::string>& args);

}  // namespace korvanta::cli
