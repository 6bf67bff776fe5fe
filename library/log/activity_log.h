#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace tsr {

class Clock;
class FileSystem;

// The hourly HTML activity log. Levels: 1 frame sent ("red"), 2 reply
// received ("blue"), anything else "green". Never reports a failure.
class ActivityLog {
public:
    ActivityLog(const Clock& clock, FileSystem& fs);
    ~ActivityLog();

    // The log folder as taken by the last TSR_Init.
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
    mutable std::mutex guard_;
    std::string folder_;
    std::string currentName_;
    struct OpenFile;
    std::unique_ptr<OpenFile> file_;
};

} // namespace tsr
