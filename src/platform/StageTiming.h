// Where a run's time goes: when the environment variable KORVANTA_TIMING is set (to anything but
// "0" or empty), every mark prints one line on standard error,
//   timing   0.412 s  +0.103 s  measure input
// the seconds since the process started (from the kernel's start time, so loading the program
// counts) and since the previous mark. Otherwise a mark costs one relaxed atomic load.
#pragma once

#include <string_view>

namespace korvanta {

// Any thread. Lines from different threads never interleave.
void timingMark(std::string_view stage);

// Whether marks print (read once, on the first call of either function).
bool timingEnabled();

}  // namespace korvanta
