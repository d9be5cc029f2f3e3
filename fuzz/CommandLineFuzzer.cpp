// Fuzz target: korvanta-cli's option parsing, with the flags and options of every command.
// Input: the arguments, one per line.
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace korvanta::cli;
    std::vector<std::string> args;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        args.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    struct Command {
        std::set<std::string> flags;
        std::set<std::string> options;
    };
    static const Command kCommands[] = {
        {{"--json"}, {}},  // analyze, tempo, spectrum
        {{"--json", "--hq"},
         {"--preset", "--target", "--ceiling", "--out", "--format", "--cover", "--reference"}},  // master
        {{"--json", "--hq"}, {"--settings", "--out", "--format", "--cover"}},                      // eq
    };
    for (const auto& command : kCommands) {
        auto parsed = parseArguments(args, command.flags, command.options);
        if (auto* arguments = std::get_if<Arguments>(&parsed)) {
            // Nothing is invented: every flag and option is one the command knows, and no more
            // arguments come out than went in.
            for (const auto& flag : arguments->flags) {
                if (!command.flags.count(flag)) __builtin_trap();
            }
            for (const auto& [name, value] : arguments->options) {
                if (!command.options.count(name)) __builtin_trap();
            }
            if (arguments->flags.size() + arguments->options.size() + arguments->positional.size() >
                args.size()) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
