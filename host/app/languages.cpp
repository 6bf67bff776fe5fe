#include "app/languages.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool EndsWithJsonIgnoringCase(const std::string& name) {
    static const std::string suffix = ".json";
    if (name.size() < suffix.size())
        return false;
    return std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

bool ReadFile(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

} // namespace

void PutAtPath(JsonValue& root, const std::string& dottedPath, JsonValue value) {
    JsonValue* at = &root;
    size_t start = 0;
    for (;;) {
        const size_t dot = dottedPath.find('.', start);
        const std::string name = dottedPath.substr(start, dot == std::string::npos ? dot : dot - start);
        if (!at->is_object())
            *at = JsonValue::object();
        if (dot == std::string::npos) {
            (*at)[name] = std::move(value);
            return;
        }
        at = &(*at)[name];
        start = dot + 1;
    }
}

LanguagesObject ReadLanguages(const fs::path& localeFolder) {
    LanguagesObject result;
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(localeFolder, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (EndsWithJsonIgnoringCase(it->path().filename().string()) && it->is_regular_file(typeError))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const std::string fileName = file.filename().string();
        std::string text;
        if (!ReadFile(file, text)) {
            result.problems.push_back("Locale file could not be read: " + fileName);
            continue;
        }
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
            text.erase(0, 3);
        std::replace(text.begin(), text.end(), '\'', '|');
        auto parsed = ParseLenientJson(text);
        if (!parsed) {
            result.problems.push_back("Locale file could not be parsed: " + fileName);
            continue;
        }
        std::string name = fileName;
        const size_t json = name.find(".json");
        if (json != std::string::npos)
            name.erase(json, 5);
        PutAtPath(result.object, name + ".translation", std::move(*parsed));
    }
    // The texts travel in a single-quoted script string; "'" of the files is
    // "|" already, but escapes and file names may still hold one.
    result.object = ShieldTextsForScriptString(result.object);
    return result;
}
