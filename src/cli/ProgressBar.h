// A one-line progress bar on a terminal (standard error); silent when it is not a terminal.
#pragma once

#include <string>

namespace korvanta::cli {

class ProgressBar {
public:
    ProgressBar();

    bool active() const { return enabled_; }
    // Redraws "label [#####.....]  45%" in place; fraction 0…1.
    void show(const std::string& label, double fraction);
    // Clears the bar's line so that a normal line can follow.
    void clear();

private:
    bool enabled_;
    bool drawn_ = false;
    int lastPermille_ = -1;
    std::string lastLabel_;
};

}  // namespace korvanta::cli
