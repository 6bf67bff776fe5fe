#include "f_home/page_files.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <system_error>

PageFiles::PageFiles(const std::filesystem::path& root) {
    std::error_code error;
    root_ = std::filesystem::canonical(root, error);
    if (error)
        root_ = std::filesystem::absolute(root).lexically_normal();
}

PageFiles::Lookup PageFiles::Find(const std::string& relative) const {
    const std::string wanted = relative.empty() ? std::string("index.html") : relative;
    if (wanted.find('\\') != std::string::npos || wanted.find('\0') != std::string::npos ||
        wanted.front() == '/')
        return {Verdict::Forbidden, {}};
    size_t start = 0;
    while (start <= wanted.size()) {
        const size_t end = std::min(wanted.find('/', start), wanted.size());
        const std::string segment = wanted.substr(start, end - start);
        if (segment.empty() || segment == "." || segment == "..")
            return {Verdict::Forbidden, {}};
        start = end + 1;
    }
    std::error_code error;
    const auto file = std::filesystem::canonical(root_ / wanted, error);
    if (error)
        return {Verdict::NotFound, {}};
    const auto inside = file.lexically_relative(root_);
    if (inside.empty() || *inside.begin() == "..")
        return {Verdict::Forbidden, {}};
    if (!std::filesystem::is_regular_file(file, error))
        return {Verdict::NotFound, {}};
    return {Verdict::Ok, file};
}

std::string PageFiles::ContentType(const std::filesystem::path& file) {
    static const std::map<std::string, std::string> types = {
        {".html", "text/html; charset=utf-8"},
        {".htm", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".ico", "image/x-icon"},
        {".webp", "image/webp"},
        {".woff", "font/woff"},
        {".woff2", "font/woff2"},
        {".ttf", "font/ttf"},
        {".txt", "text/plain; charset=utf-8"},
        {".map", "application/json"},
        {".wasm", "application/wasm"},
    };
    std::string extension = file.extension().string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto found = types.find(extension);
    return found == types.end() ? "application/octet-stream" : found->second;
}
