#include "app/folder_path.h"
#include "app/host_paths.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The existing entry of folder that is name in some letter case, preferring
// the exact name; empty when there is none.
fs::path ExistingEntry(const fs::path& folder, const std::string& name) {
    std::error_code error;
    if (fs::exists(folder / name, error))
        return folder / name;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (SameIgnoringCase(it->path().filename().string(), name))
            return it->path();
    return fs::path();
}

} // namespace

fs::path ConfiguredFolder(const std::string& text) {
    std::string path = text;
    std::replace(path.begin(), path.end(), '\\', '/');
    return PathFromText(path);
}

bool CreateFolderPathIgnoringCase(const std::string& text) {
    const fs::path wanted = ConfiguredFolder(text);
    if (wanted.empty())
        return false;
    std::error_code error;
    fs::path at = wanted.is_absolute() ? wanted.root_path() : fs::current_path(error);
    if (error)
        return false;
    for (const fs::path& part : wanted.relative_path()) {
        const std::string name = part.string();
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            at = at.parent_path();
            continue;
        }
        fs::path next = ExistingEntry(at, name);
        if (next.empty()) {
            next = at / name;
            fs::create_directory(next, error);
            if (error && !fs::is_directory(next))
                return false;
        } else if (!fs::is_directory(next, error)) {
            return false;
        }
        at = next;
    }
    return true;
}
