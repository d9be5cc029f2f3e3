#include "platform/StageTiming.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

namespace korvanta {

namespace {

double bootSeconds() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The process's start in CLOCK_BOOTTIME seconds (field 22 of /proc/self/stat, in clock ticks),
// or now when it cannot be read.
double processStartSeconds() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t afterName = text.rfind(')');
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (afterName == std::string::npos || ticksPerSecond <= 0) return bootSeconds();
    std::istringstream fields(text.substr(afterName + 2));
    std::string field;
    for (int i = 3; i < 22 && fields >> field; ++i) {
    }
    unsigned long long startTicks = 0;
    if (!(fields >> startTicks)) return bootSeconds();
    return static_cast<double>(startTicks) / static_cast<double>(ticksPerSecond);
}

struct Clock {
    bool enabled = false;
    double start = 0.0;
    double last = 0.0;
    std::mutex lock;
};

Clock& clock() {
    static Clock* const instance = [] {
        auto* c = new Clock;  // never destroyed: marks may come from threads ending at exit
        const char* value = std::getenv("KORVANTA_TIMING");
        c->enabled = value && *value && std::string_view(value) != "0";
        if (c->enabled) c->start = c->last = processStartSeconds();
        return c;
    }();
    return *instance;
}

}  // namespace

bool timingEnabled() { return clock().enabled; }

void timingMark(std::string_view stage) {
    Clock& c = clock();
    if (!c.enabled) return;
    std::lock_guard guard(c.lock);
    const double now = bootSeconds();
    std::fprintf(stderr, "timing %7.3f s  +%.3f s  %.*s\n", now - c.start, now - c.last,
                 static_cast<int>(stage.size()), stage.data());
    c.last = now;
}

}  // namespace korvanta
