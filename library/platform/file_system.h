#pragma once
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tsr {

// A file kept open for appending (the activity log).
class AppendFile {
public:
    virtual ~AppendFile() = default;
    // One write of the whole text followed by a flush; errors are ignored. A
    // file deleted since it was opened is made again under its name first.
    virtual void WriteAndFlush(const std::string& bytes) = 0;
};

struct DirEntry {
    std::string name;          // as stored on disk
    std::time_t lastWrite = 0; // seconds since the epoch
    std::uint64_t size = 0;    // bytes
    bool isFolder = false;
};

// The file services the library uses. Paths come in Windows or POSIX form:
// "\" and "/" both separate folders, and every name along a path is looked up
// ignoring letter case (an existing "memory" folder is used for "Memory").
// Relative paths are relative to the process's current folder.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The path as the system would open it: separators made "/", and each
    // existing component replaced by the entry that matches it ignoring case.
    virtual std::string Resolve(const std::string& path) const = 0;

    virtual bool Exists(const std::string& path) const = 0;
    virtual bool IsFolder(const std::string& path) const = 0;
    // Creates one folder whose parent exists; false if it could not (or exists).
    virtual bool CreateFolder(const std::string& path) = 0;

    // Entries of a folder whose names match a pattern with "*" and "?"
    // wildcards, ignoring case; "." and ".." are never listed. An empty folder
    // text lists nothing (the current folder is ".").
    virtual std::vector<DirEntry> List(const std::string& folder, const std::string& pattern) const = 0;

    virtual bool DeleteFile(const std::string& path) = 0;
    // Moves a file; fails when the target exists.
    virtual bool MoveFile(const std::string& from, const std::string& to) = 0;
    // Copies a file, replacing the target.
    virtual bool CopyFile(const std::string& from, const std::string& to) = 0;
    // Copies a file to a name not taken yet: false, and the target left as
    // it is, when it exists. The copy appears whole or not at all.
    virtual bool CopyFileAsNew(const std::string& from, const std::string& to) = 0;

    // The whole content, or nothing when the file is missing or unreadable.
    virtual std::optional<std::string> ReadFile(const std::string& path) const = 0;
    // The whole content, read with exclusive access: nothing when the file is
    // missing, unreadable, or still held open for writing by its producer.
    virtual std::optional<std::string> ReadExclusive(const std::string& path) const = 0;
    // Replaces the whole content atomically (written beside, then renamed over).
    virtual bool WriteAtomic(const std::string& path, const std::string& content) = 0;

    virtual std::unique_ptr<AppendFile> OpenForAppend(const std::string& path) = 0;
};

// The file system of the machine (platform/file_system_posix.cpp or _win32.cpp).
std::unique_ptr<FileSystem> MakeFileSystem();

} // namespace tsr
