#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/lenient_json.h"

struct LanguagesObject {
    // One member per locale file, {"translation": <its content>} below the
    // file's name with ".json" taken out, each "." opening an object; its
    // texts shielded for the script string (ShieldTextsForScriptString).
    JsonValue object = JsonValue::object();
    // A message per file that could not be read or parsed; such a file adds
    // no member.
    std::vector<std::string> problems;
};

// The page's translations from the *.json files of the locale folder, in the
// order of their names. Every "'" of a file becomes "|" before it is parsed,
// so that no text can end the single-quoted script string it travels in.
LanguagesObject ReadLanguages(const std::filesystem::path& localeFolder);

// Puts value below the dotted path, making objects along it.
void PutAtPath(JsonValue& root, const std::string& dottedPath, JsonValue value);
