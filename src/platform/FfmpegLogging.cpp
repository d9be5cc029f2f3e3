#include "platform/FfmpegLogging.h"

extern "C" {
#include <libavutil/log.h>
}

namespace korvanta {

void silenceFfmpegLog() { av_log_set_level(AV_LOG_QUIET); }

}  // namespace korvanta
