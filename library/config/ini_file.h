#pragma once
#include <string>

namespace tsr {

class FileSystem;

// One INI file with private-profile semantics: sections and keys match
// ignoring case, the value is the text after the first "=" trimmed of blanks
// (and of a CR before the line end), one pair of matching quotes around it
// taken off; a default loses its trailing blanks; a replaced key keeps the
// file's spelling.
// Every call opens, reads or updates, and closes the file; no handle is kept.
// Lines written anew end in CR LF; a file that already uses bare LF keeps it.
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
    // and key at the end of the file (created if missing). A value is written
    // up to its first line end, so it cannot add lines. False on failure, and
    // when the file is there but cannot be read (it is then left as it is).
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);

    // The decimal number (optional sign) at the start of text, blanks skipped;
    // 0 without digits; held to the range of int.
    static int LeadingInt(const std::string& text);

private:
    FileSystem& fs_;
    std::string path_;
};

} // namespace tsr
