#include "config/ini_file.h"

#include <climits>
#include <optional>
#include <strings.h>
#include <vector>

#include "platform/file_system.h"

namespace tsr {
namespace {

// Blanks, tabs and carriage returns: a CR left before the CR LF (a file
// edited by hand or passed through two line-end conversions) is no part of
// the value, as the system's own profile functions read it.
std::string TrimSpaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// One pair of matching quotes around a value is no part of it (a hand-edited
// PathLogs="C:\Program Files\Tessaro\log" names the folder without them).
std::string WithoutQuotes(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool SameName(const std::string& a, const std::string& b) {
    return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

// One line of the file as it is, without its line end.
struct Line {
    std::string text;

    // The name of a section line, or nothing.
    std::optional<std::string> Section() const {
        const std::string t = TrimSpaces(text);
        if (t.empty() || t.front() != '[')
            return std::nullopt;
        const std::size_t close = t.find(']');
        if (close == std::string::npos)
            return std::nullopt; // an unclosed bracket opens no section
        return TrimSpaces(t.substr(1, close - 1));
    }
    // The key of a key=value line, or nothing.
    std::optional<std::string> Key() const {
        const std::size_t eq = text.find('=');
        if (eq == std::string::npos || Section())
            return std::nullopt;
        return TrimSpaces(text.substr(0, eq));
    }
    std::string Value() const { return WithoutQuotes(TrimSpaces(text.substr(text.find('=') + 1))); }
};

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

struct Parsed {
    std::string mark; // a byte order mark the file begins with, kept when it is written back
    std::vector<Line> lines;
    std::string eol = "\r\n";
};

Parsed Parse(const std::string& content) {
    Parsed p;
    if (content.find('\n') != std::string::npos && content.find("\r\n") == std::string::npos)
        p.eol = "\n";
    std::size_t start = 0;
    if (content.rfind(kByteOrderMark, 0) == 0) {
        p.mark = kByteOrderMark;
        start = p.mark.size();
    }
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string text = content.substr(start, end - start);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        p.lines.push_back({std::move(text)});
        start = end + 1;
    }
    return p;
}

// Index of the first line of the section (its header), or -1.
long FindSection(const Parsed& p, const std::string& section) {
    for (std::size_t i = 0; i < p.lines.size(); ++i)
        if (auto name = p.lines[i].Section(); name && SameName(*name, section))
            return static_cast<long>(i);
    return -1;
}

// One past the last line that belongs to the section starting at header.
std::size_t SectionEnd(const Parsed& p, std::size_t header) {
    std::size_t i = header + 1;
    while (i < p.lines.size() && !p.lines[i].Section())
        ++i;
    return i;
}

std::optional<std::string> Lookup(const Parsed& p, const std::string& section, const std::string& key) {
    const long header = FindSection(p, section);
    if (header < 0)
        return std::nullopt;
    const std::size_t end = SectionEnd(p, static_cast<std::size_t>(header));
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < end; ++i)
        if (auto k = p.lines[i].Key(); k && SameName(*k, key))
            return p.lines[i].Value();
    return std::nullopt;
}

} // namespace

IniFile::IniFile(FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}

int IniFile::LeadingInt(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos)
        return 0;
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1; // held, the rest cannot bring it back
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def,
                                int maxChars) const {
    // Trailing blanks of the default are cut, as the system's function does.
    std::string value = def.substr(0, def.find_last_not_of(' ') + 1);
    if (!path_.empty())
        if (std::optional<std::string> content = fs_.ReadFile(path_))
            if (auto found = Lookup(Parse(*content), section, key))
                value = std::move(*found);
    if (maxChars >= 0 && value.size() > static_cast<std::size_t>(maxChars))
        value.resize(static_cast<std::size_t>(maxChars));
    return value;
}

int IniFile::ReadInt(const std::string& section, const std::string& key, int def) const {
    if (path_.empty())
        return def;
    std::optional<std::string> content = fs_.ReadFile(path_);
    if (!content)
        return def;
    auto found = Lookup(Parse(*content), section, key);
    return found ? LeadingInt(*found) : def;
}

bool IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    if (path_.empty())
        return false;
    Parsed p;
    std::optional<std::string> content = fs_.ReadFile(path_);
    if (content)
        p = Parse(*content);
    else if (fs_.Exists(path_))
        return false; // there but unreadable: writing would replace all its other keys
    const std::string text = value.substr(0, value.find_first_of("\r\n"));
    const std::string line = key + "=" + text;

    const long header = FindSection(p, section);
    if (header < 0) {
        p.lines.push_back({"[" + section + "]"});
        p.lines.push_back({line});
    } else {
        const std::size_t end = SectionEnd(p, static_cast<std::size_t>(header));
        std::optional<std::size_t> at;
        std::string spelling; // the file's spelling of the key, kept when it is replaced
        for (std::size_t i = static_cast<std::size_t>(header) + 1; i < end && !at; ++i)
            if (auto k = p.lines[i].Key(); k && SameName(*k, key)) {
                at = i;
                spelling = *k;
            }
        if (at) {
            p.lines[*at].text = spelling + "=" + text;
        } else {
            // after the section's last non-blank line, so blank lines before the next section stay there
            std::size_t insert = end;
            while (insert > static_cast<std::size_t>(header) + 1 &&
                   TrimSpaces(p.lines[insert - 1].text).empty())
                --insert;
            p.lines.insert(p.lines.begin() + static_cast<long>(insert), Line{line});
        }
    }

    std::string out = p.mark;
    for (const Line& l : p.lines)
        out += l.text + p.eol;
    if (content && *content == out)
        return true; // the file holds it already (SaveAll at every TSR_Init mostly finds it so)
    return fs_.WriteAtomic(path_, out);
}

} // namespace tsr
