#include "app/folder_browser.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/folder_path.h"
#include "app/host_paths.h"
#include "app/lenient_json.h"

namespace fs = std::filesystem;

namespace {

fs::path Home() {
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? fs::path(home) : fs::path("/");
}

// The folder to show: the one asked for, else the starting folder, else the
// nearest existing folder above either, else the home folder.
fs::path FolderToShow(const std::string& path, const std::string& startFolder) {
    std::error_code error;
    fs::path wanted = ConfiguredFolder(path.empty() ? startFolder : path);
    if (wanted.empty())
        wanted = Home();
    wanted = fs::absolute(wanted, error).lexically_normal();
    while (!wanted.empty() && !fs::is_directory(wanted, error)) {
        const fs::path parent = wanted.parent_path();
        if (parent == wanted)
            return Home();
        wanted = parent;
    }
    if (wanted.empty())
        return Home();
    std::string text = wanted.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return PathFromText(text);
}

} // namespace

std::string FolderListing(const std::string& path, const std::string& startFolder) {
    const fs::path folder = FolderToShow(path, startFolder);
    JsonValue listing = JsonValue::object();
    listing["path"] = folder.string();
    listing["parent"] = folder.has_relative_path() ? folder.parent_path().string() : std::string();
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (it->is_directory(typeError))
            names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    listing["folders"] = names;
    listing["error"] = error ? error.message() : std::string();
    return WriteJson(listing, JsonEscaping::Full);
}

std::string FolderForScript(const std::string& folder) {
    std::string out;
    for (char c : folder) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (u < 32 || u == 127) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}
