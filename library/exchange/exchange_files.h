#pragma once
#include <ctime>
#include <string>

namespace tsr {

class ActivityLog;
class Clock;
class FileSystem;

// File plumbing of the exchange: whole-file reads and writes, dated backups of
// request files in the log folder, and the JMF status message.
class ExchangeFiles {
public:
    ExchangeFiles(FileSystem& fs, const Clock& clock, ActivityLog& log);

    // The content up to the first zero byte; empty when the file is missing,
    // unreadable or still held open by its producer.
    std::string ReadWholeFile(const std::string& path) const;
    // Replaces the whole content; a reader sees the old file or the new one, never half of it.
    bool WriteWholeFile(const std::string& path, const std::string& content);
    // Copies the source into the log folder as "<local time>_<name>", optionally
    // first deleting dated entries older than ten days; then pauses 50 ms.
    // An existing backup is never replaced: a later copy under a taken name
    // gets "-2", "-3", ... before its extension. Result: the backup's name,
    // empty (and logged) when no copy could be made.
    std::string BackupExchangeFile(const std::string& name, const std::string& source, bool cleanUp);
    // The one-line JMF answer telling whether the corrected keys reached the
    // press; measurementNamespace is bound to the prefix qv.
    void WriteStatusMessage(const std::string& path, bool transferred, const std::string& measurementNamespace);

    // Deletes a request file unless its producer still holds it open for
    // writing; such a file is met again in a later pass.
    bool DeleteRequestFile(const std::string& path);
    // Moves a request file on, replacing a file of that name at the target;
    // a file still being written, or one that is already its own target, stays where it is.
    bool ReleaseRequestFile(const std::string& from, const std::string& to);

    static std::string StatusMessageText(const std::tm& utc, bool transferred,
                                         const std::string& measurementNamespace);
    // "%Y%m%d_%H%M%S_" followed by the name, made a legal file name on every
    // platform: colons are left out, other characters Windows refuses become "_".
    static std::string BackupName(const std::tm& local, const std::string& name);
    // "x.xml" with n 2 gives "x-2.xml"; n 1 gives the name itself.
    static std::string NumberedName(const std::string& name, int n);
    // Date ten days before now as the number yyyymmdd.
    static int CleanUpCutOff(const Clock& clock, std::time_t now);
    // The number in the first 8 characters of a name longer than 8, else 0.
    static int DatePrefix(const std::string& name);

private:
    FileSystem& fs_;
    const Clock& clock_;
    ActivityLog& log_;
};

} // namespace tsr
