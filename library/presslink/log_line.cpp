#include "presslink/log_line.h"

#include <cstdarg>
#include <cstdio>
#include <string_view>

#include "log/activity_log.h"

namespace tsr {

void WriteLogLine(ActivityLog& log, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0)
        return;
    log.WriteText(std::string_view(text, n < static_cast<int>(sizeof text) ? static_cast<std::size_t>(n)
                                                                           : sizeof text - 1),
                  3);
}

} // namespace tsr
