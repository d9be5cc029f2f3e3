// Shared pieces of korvanta-cli's commands: argument parsing, output formatting, exit codes.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Error.h"

namespace korvanta::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;
// Ctrl-C (SIGINT) cancelled the run: 128 + the signal's number, as a shell reports an interrupt.
inline constexpr int kExitInterrupted = 130;

// A parsed command line: flags ("--json"), options with one value ("--out DIR"), and the
// remaining positional arguments in order.
struct Arguments {
    std::set<std::string> flags;
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;

    bool has(const std::string& flag) const { return flags.count(flag) > 0; }
    std::optional<std::string> option(const std::string& name) const;
};

// Parses `args` against the flags and value-taking options a command knows. "--" ends option
// parsing. Returns an error message for an unknown option or a missing value.
std::variant<Arguments, std::string> parseArguments(const std::vector<std::string>& args,
                                                    const std::set<std::string>& knownFlags,
                                                    const std::set<std::string>& knownOptions);

// Prints "korvanta-cli: <message>" and a hint to standard error; returns kExitUsage.
int usageError(const std::string& message);

nlohmann::json errorJson(const Error& error);

// A 32-bit figure as the shortest decimal that reads back to the same float (-14.02, not
// -14.020000457763672).
nlohmann::json jsonNumber(float value);

// Keeps standard output for JSON lines alone: from then on, whatever else the process prints to
// standard output (the libraries' diagnostic lines) goes to standard error instead. Call once,
// before anything is printed.
void reserveStandardOutputForJson();

// Writes one JSON object as one line to standard output and flushes it.
void printJsonLine(const nlohmann::json& object);

// Number of characters a UTF-8 text occupies on a terminal (code points; no wide glyphs).
size_t displayWidth(const std::string& text);
std::string padRight(const std::string& text, size_t width);

// "m:ss"
std::string formatDuration(double seconds);
// One decimal, e.g. "-14.0"; very large negative figures (silence) print as they come.
std::string formatDecibels(float value);

bool isTerminal(int fd);

}  // namespace korvanta::cli
