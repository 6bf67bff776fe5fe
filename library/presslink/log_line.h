#pragma once

namespace tsr {

class ActivityLog;

// Writes one printf-formatted text entry (at most 255 characters) at level 3.
void WriteLogLine(ActivityLog& log, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace tsr
