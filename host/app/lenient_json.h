#pragma once

#include <cstdint>

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// The JSON texts exchanged with the page: objects keep their members in the
// order they were read or put.
using JsonValue = nlohmann::ordered_json;

// Reads one JSON value, leniently: strings may also be single-quoted and
// member names may stand unquoted. Nothing but blanks may follow the value.
// Nothing on a malformed text or one nested deeper than the reader goes.
std::optional<JsonValue> ParseLenientJson(std::string_view text);

// Appends the code point as UTF-8.
void AppendUtf8(std::string& out, uint32_t cp);

enum class JsonEscaping {
    // The settings and languages objects: \b \t \n \f \r; '"', '\' and '/'
    // behind a backslash; every other character below 32 or above 127 as \u
    // with four lower-case hex digits (UTF-16 units).
    Full,
    // The memory entries: '"' and '\' behind a backslash, control characters
    // (the zero character among them) as \u with four hex digits; everything
    // else as it stands.
    Minimal,
};

// A text prepared for a JSON text that travels inside a single-quoted script
// string ("App.loadSettings('%s')"): the script engine reads that string
// before the page parses the JSON, so "\" and '"' get a backslash of their
// own, and control characters and "'" become \u escapes that reach the JSON
// reader whole. Texts without these characters stay as they are; "\" alone
// is doubled, as folder texts travel.
std::string ShieldForScriptString(const std::string& text);
// The same for every text and member name inside a value.
JsonValue ShieldTextsForScriptString(const JsonValue& value);

// Compact JSON: no blanks or line breaks between tokens. Texts are UTF-8; a
// byte that is no part of a UTF-8 sequence counts as U+FFFD under Full.
std::string WriteJson(const JsonValue& value, JsonEscaping escaping);
