// korvanta-cli: the headless front door to Korvanta's measurement, mastering and export.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "platform/DiagnosticLog.h"
#include "platform/FfmpegLogging.h"
#include "platform/StageTiming.h"

namespace {

const char* const kHelp = R"HELP(Usage: korvanta-cli COMMAND [OPTIONS] PATH...

Commands:
  analyze [--json] FILE...
      Measures each file on its central two minutes: integrated loudness (LUFS), sample peak
      (dBFS) and the RMS of its loudest part (dBFS), with duration, sample rate and channels;
      beside them the standard figures on the same samples: "LUFS (R128)" (BS.1770-4 / EBU
      R128 integrated loudness, no offset) and the true peak (dBTP, 4x oversampled).

  tempo [--json] FILE...
      Estimates each file's tempo (70 to 170 BPM in steps of 2; 120 when unsure).

  spectrum [--json] FILE...
      The tonal balance of each file: twelve band levels on a 0-10 scale (32 Hz to 20 kHz)
      and, with --json, the 100-point spectrum profile in dB.

  master [--preset NAME | --target LUFS [--ceiling DB]] [--hq] [--format wav|m4a]
         [--cover IMAGE] [--reference REF] [--report FILE] [--json] --out DIR PATH...
      Masters songs one after another to a loudness target and writes each to DIR as
      "<song> (MASTER).wav" (or .m4a). PATH is a file or a folder (a folder contributes its
      top-level mp3, wav, aiff, aif, m4a, flac, ogg and aac files).
        --preset NAME    Events (-12 LUFS), Radio (-14), Club (-10), Festival (-8)
        --target LUFS    a target of your own (default -10); --ceiling DB its peak ceiling
                         (default -0.2 dBFS)
        --hq             24-bit WAV masters instead of 16-bit
        --format F       wav (default) or m4a (AAC, 256 kb/s for stereo)
        --cover IMAGE    cover art for M4A exports (JPEG, PNG, ...)
        --reference REF  after mastering, match every song's tonal balance to the song REF
                         through the equaliser; writes "<song> (FINAL)" files instead
        --report FILE    a batch report: CSV, JSON or a self-contained HTML page by the
                         extension (.csv, .json, .html); every song's figures and the gain
                         each streaming service's loudness normalisation applies to it
      Every M4A export is decoded again; a true peak above -1.0 dBTP is reported.
      Ctrl-C cancels: the running song stops, later songs are not started, and no partial
      file is left in DIR.

  eq --settings EQ.json [--hq] [--format wav|m4a] [--cover IMAGE] [--report FILE] [--json]
     --out DIR PATH...
      Renders songs through the equaliser described by EQ.json (the stored equaliser
      record; it is switched on whatever its isEnabled says) and writes "<song> (FINAL)"
      files to DIR.

Options for every command:
  --json      one JSON object per line per file instead of text; a file that fails gives
              "error": {"domain", "code", "message"}. master/eq give "file", "status"
              ("completed", "failed", or "pending" when cancelled before it started),
              "output", "lufs", "peak", "rms", "truePeak", "lufsR128", "platformGain",
              "bpm", "passes", and for M4A "m4aTruePeak" (and "warning" above -1.0 dBTP).
  --verbose   also print, as lines "korvanta-cli: ..." on standard error, what the decoding
              libraries noted about the files and why a step fell back or failed
  -h, --help  this text

Exit status: 0 when every file succeeded, 1 when any failed, 2 for a usage error, 130 when
Ctrl-C cancelled a master or eq run.
)HELP";

}  // namespace

int main(int argc, char** argv) {
    using namespace korvanta::cli;
    korvanta::timingMark("main");
    if (argc < 2) return usageError("missing COMMAND");
    const std::string command = argv[1];
    std::vector<std::string> args;
    bool verbose = false;
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        optionsEnded = optionsEnded || a == "--";
        if (!optionsEnded && a == "--verbose") verbose = true;
        else args.push_back(a);
    }
    bool help = command == "-h" || command == "--help" || command == "help";
    for (const auto& a : args) help = help || a == "--help" || a == "-h";
    if (help) {
        std::cout << kHelp;
        return kExitOk;
    }
    for (const auto& a : args) {
        if (a == "--") break;
        if (a == "--json") reserveStandardOutputForJson();
    }
    korvanta::captureFfmpegLog();
    if (verbose) {
        korvanta::setDiagnosticSink([](std::string_view line) {
            std::fprintf(stderr, "korvanta-cli: %.*s\n", static_cast<int>(line.size()), line.data());
            std::fflush(stderr);
        });
    }
    if (command == "analyze") return runAnalyze(args);
    if (command == "tempo") return runTempo(args);
    if (command == "spectrum") return runSpectrum(args);
    if (command == "master") {
        const int status = runMaster(args, false);
        korvanta::timingMark("master done");
        return status;
    }
    if (command == "eq") return runMaster(args, true);
    return usageError("unknown command '" + command + "'");
}
