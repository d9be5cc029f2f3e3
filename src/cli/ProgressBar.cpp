#include "cli/ProgressBar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli/CommandLine.h"

namespace korvanta::cli {

namespace {

int terminalWidth() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
    return 80;
}

}  // namespace

ProgressBar::ProgressBar() : enabled_(isTerminal(STDERR_FILENO)) {}

void ProgressBar::show(const std::string& label, double fraction) {
    if (!enabled_) return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int permille = static_cast<int>(fraction * 1000.0);
    if (permille == lastPermille_ && label == lastLabel_) return;
    lastPermille_ = permille;
    lastLabel_ = label;

    const int width = terminalWidth();
    const int barWidth = std::clamp(width / 3, 10, 40);
    const int labelWidth = std::max(8, width - barWidth - 10);
    std::string shown = label;
    if (displayWidth(shown) > static_cast<size_t>(labelWidth)) {
        // Cut on a character boundary and mark the cut.
        size_t chars = 0, i = 0;
        for (; i < shown.size(); ++i) {
            if ((static_cast<unsigned char>(shown[i]) & 0xc0) != 0x80 &&
                ++chars > static_cast<size_t>(labelWidth - 1)) {
                break;
            }
        }
        shown = shown.substr(0, i) + "…";
    }
    const int filled = static_cast<int>(fraction * barWidth);
    std::string bar = std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(barWidth - filled), '.');
    std::fprintf(stderr, "\r%s [%s] %3d%%\033[K", padRight(shown, static_cast<size_t>(labelWidth)).c_str(),
                 bar.c_str(), static_cast<int>(fraction * 100.0));
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::clear() {
    if (!enabled_ || !drawn_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    drawn_ = false;
    lastPermille_ = -1;
}

}  // namespace korvanta::cli
