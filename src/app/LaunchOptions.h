// What the application is asked to do by its command line: import songs, or only print.
#pragma once

#include <string>
#include <vector>

namespace korvanta {

struct LaunchOptions {
    bool showHelp = false;
    bool showVersion = false;
    std::string error;               // an unknown option; empty when the line is fine
    std::vector<std::string> paths;  // files and folders to import, in the order given
};

// Reads `korvanta [--help] [--version] [--] [FILE|FOLDER]...`. Options Qt itself takes
// (-platform NAME, -style NAME, …) are not ours and are left for Qt; a lone "-" is a path.
LaunchOptions parseLaunchOptions(int argc, const char* const* argv);

const char* launchHelpText();

// True when a window can be shown: a display server is named, or Qt was told which platform
// to use.
bool hasDisplay();

}  // namespace korvanta
