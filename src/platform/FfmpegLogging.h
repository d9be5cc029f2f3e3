// FFmpeg prints notes about the files it reads to standard error; the application reports
// problems through its own error values instead, and FFmpeg's lines go to the diagnostic log
// (platform/DiagnosticLog.h), which shows them only when a front end asks for them.
#pragma once

namespace korvanta {

// Routes FFmpeg's log for the whole process into the diagnostic log: messages at FFmpeg's
// "info" level and more severe become lines "ffmpeg: <message>", the rest is dropped. Idempotent
// and thread-safe; every part of the core that calls FFmpeg calls it first, so no FFmpeg message
// reaches the terminal even in a program that never calls it itself.
void captureFfmpegLog();

// The same as captureFfmpegLog(); kept for the start-up code of the executables.
void silenceFfmpegLog();

}  // namespace korvanta
