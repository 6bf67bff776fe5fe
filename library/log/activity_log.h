#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace tsr {

class AppendFile;
class Clock;
class FileSystem;

// The hourly HTML activity log. Levels: 1 frame sent ("red"), 2 reply
// received ("blue"), anything else "green". Never reports a failure.
class ActivityLog {
public:
    ActivityLog(const Clock& clock, FileSystem& fs);
    ~ActivityLog();
    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // The log folder as taken by the last TSR_Init. Entries are dropped while
    // it is empty.
    void SetFolder(const std::string& folder);
    std::string Folder() const;

    void WriteText(std::string_view text, int level);
    void WriteBytes(const std::uint8_t* bytes, int count, int level);
    void WriteValues(const std::int32_t* values, int count, int level);

    void Close();

private:
    // implementation owned by log/activity_log.cpp
    void Append(const std::string& body, int level);
    const Clock& clock_;
    FileSystem& fs_;
    mutable std::mutex guard_; // held for the whole of an entry: whole entries, one file switch at a time
    std::string folder_;
    std::string currentName_;
    std::unique_ptr<AppendFile> file_;
};

} // namespace tsr
