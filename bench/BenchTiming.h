// Clocks, best-of-N timing and the one-decode baseline shared by the benchmarks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/Error.h"

namespace korvanta::bench {

// Wall-clock and processor time (this process's threads and the child processes it waited for).
struct Timing {
    double wall = 1e30;
    double cpu = 1e30;
};

// The fastest of `repetitions` runs of `body`, by each clock.
Timing best(int repetitions, const std::function<void()>& body);

// Prints "what: message" to standard error and exits with status 1.
[[noreturn]] void fail(const std::string& what, const Error& error);

// Decodes the file at `path` once from start to end, `chunkFrames` frames at a time, keeping
// nothing: the baseline the benchmarks compare against. Fails (see fail()) when reading fails.
void decodeOnce(const std::filesystem::path& path, uint32_t chunkFrames);

}  // namespace korvanta::bench
