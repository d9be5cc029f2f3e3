#include "app/LaunchOptions.h"

#include <cstdlib>
#include <string_view>

namespace korvanta {

namespace {

// Qt's own options that take a value.
bool isQtOptionWithValue(std::string_view a) {
    for (std::string_view o : {"-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qmljsdebugger",
                               "-style", "-stylesheet", "-display", "-geometry", "-title", "-name",
                               "-qwindowgeometry", "-qwindowtitle", "-qwindowicon", "-session"}) {
        if (a == o) return true;
    }
    return false;
}

bool isQtFlag(std::string_view a) {
    for (std::string_view o : {"-reverse", "-nograb", "-dograb", "-sync", "-widgetcount", "-testability"}) {
        if (a == o) return true;
    }
    return false;
}

bool isSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

}  // namespace

LaunchOptions parseLaunchOptions(int argc, const char* const* argv) {
    LaunchOptions options;
    bool onlyPaths = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (onlyPaths || a.empty() || a == "-" || a[0] != '-') {
            options.paths.emplace_back(a);
        } else if (a == "--") {
            onlyPaths = true;
        } else if (a == "-h" || a == "--help") {
            options.showHelp = true;
        } else if (a == "-v" || a == "--version") {
            options.showVersion = true;
        } else if (isQtOptionWithValue(a)) {
            ++i;
        } else if (!isQtFlag(a)) {
            if (options.error.empty()) options.error = "unknown option '" + std::string(a) + "'";
        }
    }
    return options;
}

const char* launchHelpText() {
    return R"(Usage: korvanta [FILE|FOLDER]...

Korvanta masters finished music mixes in batches: drop up to 50 songs on the window, pick a
loudness preset in the settings (Events -12, Radio -14, Club -10, Festival -8 LUFS), press
MASTER SONGS!, compare original and master by ear, equalise, match a reference track, and
export WAV or M4A with cover art.

Files and folders given on the command line are imported as if dropped on the window (a
folder contributes its top-level mp3, wav, aiff, aif, m4a, flac, ogg and aac files).

Options:
  -h, --help     this text
  -v, --version  the version

For headless work (scripts, servers) use korvanta-cli.
)";
}

bool hasDisplay() {
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

}  // namespace korvanta
