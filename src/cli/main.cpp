// korvanta-cli: the headless front door to Korvanta's measurement, mastering and export.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"

namespace {

const char* const kHelp = R"(Usage: korvanta-cli COMMAND [OPTIONS] FILE...

Commands:
  analyze [--json] FILE...
      Measures each file on its central two minutes: integrated loudness (LUFS), sample peak
      (dBFS) and the RMS of its loudest part (dBFS), with duration, sample rate and channels.

Options:
  --json      one JSON object per line per file instead of the table; a file that fails gives
              {"file", "error": {"domain", "code", "message"}}
  -h, --help  this text

Exit status: 0 when every file succeeded, 1 when any failed, 2 for a usage error.
)";

}  // namespace

int main(int argc, char** argv) {
    using namespace korvanta::cli;
    if (argc < 2) return usageError("missing COMMAND");
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << kHelp;
        return kExitOk;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::cout << kHelp;
            return kExitOk;
        }
    }
    if (command == "analyze") return runAnalyze(args);
    return usageError("unknown command '" + command + "'");
}
