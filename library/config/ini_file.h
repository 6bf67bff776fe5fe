#pragma once
#include <string>

namespace tsr {

class FileSystem;

// One INI file with private-profile semantics: sections and keys match
// ignoring case, the value is the text after the first "=" trimmed of blanks.
// Every call opens, reads or updates, and closes the file; no handle is kept.
class IniFile {
public:
    IniFile(FileSystem& fs, std::string path);

    const std::string& Path() const { return path_; }
    void SetPath(std::string path) { path_ = std::move(path); }

    // The value, cut to maxChars characters; the default when the key is missing.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def,
                           int maxChars = 999) const;
    // The decimal number at the start of the value (0 when it has none); the
    // default when the key is missing.
    int ReadInt(const std::string& section, const std::string& key, int def) const;
    // Replaces in place, appends at the end of the section, or appends section
    // and key at the end of the file (created if missing). False on failure.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);

private:
    FileSystem& fs_;
    std::string path_;
};

} // namespace tsr
