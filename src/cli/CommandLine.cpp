#include "cli/CommandLine.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace korvanta::cli {

std::optional<std::string> Arguments::option(const std::string& name) const {
    auto it = options.find(name);
    if (it == options.end()) return std::nullopt;
    return it->second;
}

std::variant<Arguments, std::string> parseArguments(const std::vector<std::string>& args,
                                                    const std::set<std::string>& knownFlags,
                                                    const std::set<std::string>& knownOptions) {
    Arguments parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || arg == "-") {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        if (knownFlags.count(name) && !inlineValue) {
            parsed.flags.insert(name);
        } else if (knownOptions.count(name)) {
            if (inlineValue) {
                parsed.options[name] = *inlineValue;
            } else if (i + 1 < args.size()) {
                parsed.options[name] = args[++i];
            } else {
                return "option " + name + " needs a value";
            }
        } else {
            return "unknown option " + arg;
        }
    }
    return parsed;
}

int usageError(const std::string& message) {
    std::cerr << "korvanta-cli: " << message << "\nTry 'korvanta-cli --help'.\n";
    return kExitUsage;
}

nlohmann::json errorJson(const Error& error) {
    return {{"domain", error.domain}, {"code", error.code}, {"message", error.description()}};
}

nlohmann::json jsonNumber(float value) {
    if (!std::isfinite(value)) return nullptr;
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) break;
    }
    return std::strtod(text, nullptr);
}

namespace {
FILE* jsonOutput = nullptr;  // the original standard output once reserved
}  // namespace

void reserveStandardOutputForJson() {
    if (jsonOutput) return;
    std::cout.flush();
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    if (saved < 0) return;
    FILE* output = ::fdopen(saved, "w");
    if (!output) {
        ::close(saved);
        return;
    }
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fclose(output);
        return;
    }
    jsonOutput = output;
}

void printJsonLine(const nlohmann::json& object) {
    const std::string line =
        object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    FILE* output = jsonOutput ? jsonOutput : stdout;
    std::fwrite(line.data(), 1, line.size(), output);
    std::fflush(output);
}

size_t displayWidth(const std::string& text) {
    size_t width = 0;
    for (unsigned char c : text) {
        if ((c & 0xc0) != 0x80) ++width;
    }
    return width;
}

std::string padRight(const std::string& text, size_t width) {
    const size_t w = displayWidth(text);
    return w >= width ? text : text + std::string(width - w, ' ');
}

std::string formatDuration(double seconds) {
    if (!(seconds >= 0.0) || !std::isfinite(seconds)) seconds = 0.0;
    const auto total = static_cast<long long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

std::string formatDecibels(float value) {
    if (std::isnan(value)) return "\u2014";  // not measured
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(value));
    return text;
}

bool isTerminal(int fd) { return ::isatty(fd) == 1; }

}  // namespace korvanta::cli
