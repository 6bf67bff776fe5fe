#include "platform/path_text.h"

namespace tsr {

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool WildcardMatch(const char* name, const char* pattern) {
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starName = name;
        } else if (*pattern == '?' || (*pattern && Lower(*pattern) == Lower(*name))) {
            ++pattern;
            ++name;
        } else if (starPattern) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string TemporaryPrefixBeside(const std::string& target) {
    if (target.empty() || target.back() == '/')
        return std::string();
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return folder + "." + name + ".";
}

std::string ResolveLetterCase(const std::string& path, std::size_t root,
                              const std::function<std::string(const std::string&, const std::string&)>& spelling) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\')
            c = '/';
    if (p.size() <= root)
        return p;
    const bool trailing = p.back() == '/';
    std::string out = p.substr(0, root);
    bool lookUp = true;
    std::size_t start = root;
    while (start <= p.size()) {
        std::size_t end = p.find('/', start);
        if (end == std::string::npos)
            end = p.size();
        const std::string comp = p.substr(start, end - start);
        start = end + 1;
        if (comp.empty())
            continue;
        std::string name = comp;
        if (lookUp && comp != "." && comp != "..") {
            const std::string found = spelling(out.empty() ? "." : out, comp);
            if (found.empty())
                lookUp = false;
            else
                name = found;
        }
        out = JoinPath(out, name);
    }
    if (trailing && !out.empty() && out.back() != '/')
        out += '/';
    return out;
}

} // namespace tsr
