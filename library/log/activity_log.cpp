#include "log/activity_log.h"

#include <cstdio>
#include <strings.h>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace tsr {
namespace {

const char* ColourOf(int level) {
    switch (level) {
    case 1:
        return "red";
    case 2:
        return "blue";
    default:
        return "green";
    }
}

std::string Format(const std::tm& t, const char* format) {
    char buffer[64];
    const std::size_t n = std::strftime(buffer, sizeof buffer, format, &t);
    return std::string(buffer, n);
}

} // namespace

ActivityLog::ActivityLog(const Clock& clock, FileSystem& fs) : clock_(clock), fs_(fs) {}

ActivityLog::~ActivityLog() {
    Close();
}

void ActivityLog::SetFolder(const std::string& folder) {
    std::lock_guard lock(guard_);
    folder_ = folder;
}

std::string ActivityLog::Folder() const {
    std::lock_guard lock(guard_);
    return folder_;
}

void ActivityLog::WriteText(std::string_view text, int level) {
    Append(std::string(text), level);
}

void ActivityLog::WriteBytes(const std::uint8_t* bytes, int count, int level) {
    std::string body;
    if (bytes && count > 0) {
        body.reserve(static_cast<std::size_t>(count) * 3);
        static constexpr char kHex[] = "0123456789ABCDEF";
        for (int i = 0; i < count; ++i) {
            body += ' ';
            body += kHex[bytes[i] >> 4];
            body += kHex[bytes[i] & 0x0F];
        }
    }
    Append(body, level);
}

void ActivityLog::WriteValues(const std::int32_t* values, int count, int level) {
    std::string body;
    if (values && count > 0) {
        char piece[16];
        for (int i = 0; i < count; ++i) {
            std::snprintf(piece, sizeof piece, " %02d", static_cast<int>(values[i]));
            body += piece;
        }
    }
    Append(body, level);
}

void ActivityLog::Close() {
    std::lock_guard lock(guard_);
    file_.reset();
}

void ActivityLog::Append(const std::string& body, int level) {
    // The clock is read under the guard: a reading taken before it could
    // reach the file after a later one, out of order or in the previous
    // hour's file reopened.
    std::lock_guard lock(guard_);
    if (folder_.empty())
        return; // no log folder yet (or an empty one configured): never the file system's root
    // one reading of the clock for the file name and the timestamp
    const std::tm now = clock_.LocalTime(clock_.Now());
    std::string entry = Format(now, "%Y-%m-%d %H:%M:%S");
    entry += "  <span style='color:";
    entry += ColourOf(level);
    entry += "'>";
    entry += body;
    entry += "</span></BR>";

    const std::string name = folder_ + "/" + Format(now, "%Y%m%d%H") + "_log.html";
    if (::strcasecmp(name.c_str(), currentName_.c_str()) != 0)
        file_.reset();
    if (!file_) {
        currentName_ = name;
        file_ = fs_.OpenForAppend(name);
        if (!file_)
            return; // dropped; the next entry tries again
    }
    file_->WriteAndFlush(entry);
}

} // namespace tsr
