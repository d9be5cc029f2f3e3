#include "platform/FfmpegLogging.h"

#include <cstdarg>
#include <mutex>
#include <string>

#include "platform/DiagnosticLog.h"

extern "C" {
#include <libavutil/log.h>
}

namespace korvanta {

namespace {

// FFmpeg hands over a line in pieces (a context prefix, then the text, sometimes the text in
// several calls): each thread collects its pieces until the newline.
thread_local std::string pendingLine;
thread_local int printPrefix = 1;

void onFfmpegLog(void* context, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_INFO || !diagnosticsWanted()) return;
    char piece[1024];
    va_list copy;
    va_copy(copy, arguments);
    av_log_format_line2(context, level, format, copy, piece, sizeof piece, &printPrefix);
    va_end(copy);
    pendingLine += piece;
    for (size_t end = pendingLine.find('\n'); end != std::string::npos; end = pendingLine.find('\n')) {
        if (end > 0) logDiagnostic("ffmpeg: " + pendingLine.substr(0, end));
        pendingLine.erase(0, end + 1);
    }
    if (pendingLine.size() > 4096) {  // a message that never ends its line
        logDiagnostic("ffmpeg: " + pendingLine);
        pendingLine.clear();
    }
}

}  // namespace

void captureFfmpegLog() {
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(onFfmpegLog); });
}

void silenceFfmpegLog() { captureFfmpegLog(); }

}  // namespace korvanta
