// Fuzz target: the window's command line (korvanta [--help] [--version] [--] [FILE|FOLDER]...),
// which a file manager or a script fills with whatever names it has. Input: the arguments, one
// per line.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/LaunchOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"korvanta"};
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        // An argument ends at its first NUL byte, as every argument a process receives does.
        const std::string_view arg = text.substr(start, end - start);
        args.emplace_back(arg.substr(0, arg.find('\0')));
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const korvanta::LaunchOptions options = korvanta::parseLaunchOptions(static_cast<int>(args.size()), argv.data());

    // Paths are arguments given, in their order; none is invented or reordered.
    size_t next = 1;
    for (const auto& path : options.paths) {
        while (next < args.size() && args[next] != path) ++next;
        if (next == args.size()) __builtin_trap();
        ++next;
    }
    if (options.paths.size() > args.size() - 1) __builtin_trap();
    // An unknown option is named in the error.
    if (!options.error.empty() && options.error.find('\'') == std::string::npos) __builtin_trap();
    return 0;
}
