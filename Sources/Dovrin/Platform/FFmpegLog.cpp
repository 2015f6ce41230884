#include "Platform/FFmpegLog.h"

extern "C" {
#include <libavutil/log.h>
}

#include <mutex>

namespace FFmpegLog {

void keepErrorsOnly()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

} // namespace FFmpegLog
