#pragma once
// What the page makes of the script texts of page calls: the script engine
// reads the string literals, then the page parses the JSON inside them.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/lenient_json.h"

namespace tsr::test {

// The value of the script string literal that begins at text[pos] with ' or
// ", as the script engine reads it (UTF-8 out); pos ends after the closing
// quote. Nothing for a literal the engine would refuse.
inline std::optional<std::string> ScriptStringValue(const std::string& text, size_t& pos) {
    auto hex = [&](size_t at, size_t n, uint32_t& value) {
        if (at + n > text.size())
            return false;
        value = 0;
        for (size_t i = 0; i < n; ++i) {
            const char c = text[at + i];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    };
    if (pos >= text.size() || (text[pos] != '\'' && text[pos] != '"'))
        return std::nullopt;
    const char quote = text[pos++];
    std::string out;
    uint32_t pendingHigh = 0; // a high surrogate waiting for its low half
    auto unit16 = [&](uint32_t u) {
        if (pendingHigh != 0 && u >= 0xDC00 && u < 0xE000) {
            AppendUtf8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (u - 0xDC00));
            pendingHigh = 0;
            return;
        }
        if (pendingHigh != 0)
            AppendUtf8(out, 0xFFFD);
        pendingHigh = 0;
        if (u >= 0xD800 && u < 0xDC00)
            pendingHigh = u;
        else
            AppendUtf8(out, u >= 0xDC00 && u < 0xE000 ? 0xFFFD : u);
    };
    auto flush = [&] {
        if (pendingHigh != 0)
            AppendUtf8(out, 0xFFFD);
        pendingHigh = 0;
    };
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == quote) {
            flush();
            return out;
        }
        if (c == '\n' || c == '\r')
            return std::nullopt;
        if (c != '\\') {
            flush();
            out += c;
            continue;
        }
        if (pos >= text.size())
            return std::nullopt;
        const char e = text[pos++];
        uint32_t value = 0;
        switch (e) {
        case 'n':
            flush();
            out += '\n';
            break;
        case 'r':
            flush();
            out += '\r';
            break;
        case 't':
            flush();
            out += '\t';
            break;
        case 'b':
            flush();
            out += '\b';
            break;
        case 'f':
            flush();
            out += '\f';
            break;
        case 'v':
            flush();
            out += '\v';
            break;
        case '\n':
            flush();
            break; // line continuation
        case '0':
            if (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
                return std::nullopt; // octal escapes are refused in strict code
            flush();
            out += '\0';
            break;
        case 'x':
            if (!hex(pos, 2, value))
                return std::nullopt;
            pos += 2;
            unit16(value);
            break;
        case 'u':
            if (pos < text.size() && text[pos] == '{') {
                const size_t close = text.find('}', pos);
                if (close == std::string::npos || close == pos + 1 || !hex(pos + 1, close - pos - 1, value))
                    return std::nullopt;
                pos = close + 1;
                flush();
                AppendUtf8(out, value);
            } else {
                if (!hex(pos, 4, value))
                    return std::nullopt;
                pos += 4;
                unit16(value);
            }
            break;
        default:
            if (e >= '1' && e <= '9')
                return std::nullopt;
            flush();
            out += e; // \' \" \\ and any other character stand for themselves
            break;
        }
    }
    return std::nullopt;
}

// The string arguments of a page call "<prefix>'a', "b")" as the page's
// function receives them; nothing when the text is no such call.
inline std::optional<std::vector<std::string>> ScriptStringArguments(const std::string& call,
                                                                     const std::string& prefix) {
    if (call.rfind(prefix, 0) != 0)
        return std::nullopt;
    size_t pos = prefix.size();
    std::vector<std::string> args;
    for (;;) {
        auto value = ScriptStringValue(call, pos);
        if (!value)
            return std::nullopt;
        args.push_back(std::move(*value));
        if (call.compare(pos, 2, ", ") == 0) {
            pos += 2;
            continue;
        }
        if (call.compare(pos, std::string::npos, ")") == 0)
            return args;
        return std::nullopt;
    }
}

// What the page's JSON.parse makes of the single string argument of a call
// such as "App.loadSettings('...')".
inline nlohmann::json PageJson(const std::string& call, const std::string& prefix) {
    const auto args = ScriptStringArguments(call, prefix);
    if (!args || args->size() != 1) {
        ADD_FAILURE() << "not a call with one script string: " << call;
        return nullptr;
    }
    const auto parsed = nlohmann::json::parse(args->front(), nullptr, false);
    if (parsed.is_discarded())
        ADD_FAILURE() << "the page cannot parse the JSON it receives: " << args->front();
    return parsed;
}

} // namespace tsr::test
