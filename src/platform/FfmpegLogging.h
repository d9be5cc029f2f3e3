// FFmpeg prints notes about the files it reads to standard error; the application reports
// problems through its own error values instead.
#pragma once

namespace korvanta {

// Silences FFmpeg's own log output for the whole process. Call once at start-up.
void silenceFfmpegLog();

}  // namespace korvanta
