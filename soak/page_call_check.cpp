#include "page_call_check.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <regex>

#include <nlohmann/json.hpp>

#include "app/lenient_json.h"

namespace {

bool Integer(const std::string& text, long low, long high, long* out = nullptr) {
    if (text.empty() || text.size() > 11)
        return false;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || value < low || value > high)
        return false;
    if (out)
        *out = value;
    return true;
}

bool JsonObject(const std::string& text) {
    const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    return parsed.is_object();
}

bool Hex(const std::string& code, std::size_t at, std::size_t n, std::uint32_t& value) {
    if (at + n > code.size())
        return false;
    value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = code[at + i];
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 16 +
                static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                               ? c - '0'
                                               : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    return true;
}

// A script string literal from its opening quote, as the script engine reads
// it; p ends after the closing quote.
bool StringLiteral(const std::string& code, std::size_t& p, std::string& out) {
    const char quote = code[p++];
    std::uint32_t high = 0; // a high surrogate waiting for its low half
    while (p < code.size() && code[p] != quote) {
        char c = code[p++];
        if (c == '\n' || c == '\r')
            return false; // a line break ends no literal
        if (c != '\\') {
            out += c;
            continue;
        }
        if (p >= code.size())
            return false;
        c = code[p++];
        std::uint32_t cp = 0;
        switch (c) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'v':
            out += '\v';
            break;
        case '0':
            out += '\0';
            break;
        case 'x':
            if (!Hex(code, p, 2, cp))
                return false;
            p += 2;
            AppendUtf8(out, cp);
            break;
        case 'u':
            if (!Hex(code, p, 4, cp))
                return false;
            p += 4;
            if (cp >= 0xD800 && cp < 0xDC00) {
                high = cp;
                continue;
            }
            if (cp >= 0xDC00 && cp < 0xE000 && high != 0)
                cp = 0x10000 + ((high - 0xD800) << 10) + (cp - 0xDC00);
            AppendUtf8(out, cp);
            break;
        default:
            out += c;
        }
        high = 0;
    }
    return p++ < code.size();
}

// One argument from p: a number, a script string literal or a JSON object.
bool Argument(const std::string& code, std::size_t& p, std::string& out) {
    out.clear();
    if (p >= code.size())
        return false;
    const char open = code[p];
    if (open == '"' || open == '\'')
        return StringLiteral(code, p, out);
    if (open == '{') {
        int depth = 0;
        bool inString = false;
        const std::size_t start = p;
        for (; p < code.size(); ++p) {
            const char c = code[p];
            if (inString) {
                if (c == '\\')
                    ++p;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == '{') {
                ++depth;
            } else if (c == '}' && --depth == 0) {
                out = code.substr(start, ++p - start);
                return true;
            }
        }
        return false;
    }
    while (p < code.size() && (code[p] == '-' || (code[p] >= '0' && code[p] <= '9')))
        out += code[p++];
    return !out.empty();
}

} // namespace

std::optional<PageCallCheck::Call> PageCallCheck::Parse(const std::string& code) {
    static const std::string prefix = "App.";
    if (code.compare(0, prefix.size(), prefix) != 0 || code.empty() || code.back() != ')')
        return std::nullopt;
    const std::size_t open = code.find('(');
    if (open == std::string::npos)
        return std::nullopt;
    Call call;
    call.name = code.substr(prefix.size(), open - prefix.size());
    for (char c : call.name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return std::nullopt;
    std::size_t p = open + 1;
    if (code[p] == ')')
        return p + 1 == code.size() ? std::optional<Call>(call) : std::nullopt;
    for (;;) {
        std::string arg;
        if (!Argument(code, p, arg))
            return std::nullopt;
        call.args.push_back(arg);
        if (p < code.size() && code[p] == ',') {
            p += code.compare(p, 2, ", ") == 0 ? 2 : 1;
            continue;
        }
        return p + 1 == code.size() && code[p] == ')' ? std::optional<Call>(call) : std::nullopt;
    }
}

bool PageCallCheck::Unit(const std::string& text) const {
    return Integer(text, 1, units_);
}

std::string PageCallCheck::Judge(const Call& call) const {
    const std::string& n = call.name;
    const std::vector<std::string>& a = call.args;
    auto arity = [&a](std::size_t count) { return a.size() == count; };
    if (n == "setUnitProgress")
        return arity(2) && Unit(a[0]) && Integer(a[1], 0, 5) ? "" : "a unit or a progress code out of range";
    if (n == "resetKey" || n == "okDuctorValue" || n == "okDuctorCycle")
        return arity(1) && Unit(a[0]) ? "" : "no unit of the press";
    if (n == "setDuctorValue")
        return arity(2) && Unit(a[0]) && Integer(a[1], 0, 100) ? "" : "a unit or a ductor value out of range";
    if (n == "setDuctorCycleValue")
        return arity(2) && Unit(a[0]) && Integer(a[1], 0, 255) ? "" : "a unit or a cycle out of range";
    if (n == "showUnitKeys") {
        if (!arity(2) || !Unit(a[0]))
            return "no unit of the press";
        int count = 0;
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = a[1].find(',', start);
            if (!Integer(a[1].substr(start, comma - start), 0, 255))
                return "a key value out of range";
            ++count;
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
        return count == keys_ ? "" : "not one value per key";
    }
    if (n == "showReadFailed")
        return arity(2) && Unit(a[0]) && Integer(a[1], 1, 3) ? "" : "a unit or a kind of value out of range";
    if (n == "unitKeysResult")
        return arity(2) && Unit(a[0]) && Integer(a[1], 0, 3) ? "" : "a unit or a result out of range";
    if (n == "showUnitInk") {
        static const std::regex colour("#[0-9a-f]{6}");
        return arity(3) && Unit(a[0]) && std::regex_match(a[2], colour) ? "" : "no unit or no colour";
    }
    if (n == "loadUnits")
        return arity(1) && Integer(a[0], units_, units_) ? "" : "another unit count than configured";
    if (n == "loadSettings") {
        if (!arity(1))
            return "no settings";
        const nlohmann::json s = nlohmann::json::parse(a[0], nullptr, false);
        return s.is_object() && s.value("units", -1) == units_ && s.value("keys", -1) == keys_
                   ? ""
                   : "settings that do not parse or name other counts";
    }
    if (n == "loadLanguages")
        return arity(1) && JsonObject(a[0]) ? "" : "languages that do not parse";
    if (n == "loadMemory") {
        if (!arity(2) || !Integer(a[0], 0, 3))
            return "no memory position";
        const nlohmann::json e = nlohmann::json::parse(a[1], nullptr, false);
        return e.is_object() && e.contains("saved_on") && e["saved_on"].is_string() &&
                       e.contains("description") && e["description"].is_string()
                   ? ""
                   : "a memory entry that does not parse";
    }
    if (n == "emptyMemory" || n == "savingMemory")
        return arity(1) && Integer(a[0], 0, 3) ? "" : "no memory position";
    if (n == "startUnits") {
        if (arity(0))
            return "";
        if (!arity(1))
            return "too many arguments";
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = a[0].find(',', start);
            if (!Integer(a[0].substr(start, comma - start), 0, units_))
                return "a unit list naming other units";
            if (comma == std::string::npos)
                return "";
            start = comma + 1;
        }
    }
    if (n == "showCountdown")
        return arity(1) && Integer(a[0], 0, 3600) ? "" : "a countdown out of range";
    if (n == "reloadDuctorCycles" || n == "makeDirtyValues" || n == "showPendingErrors" ||
        n == "stopCopyUnit" || n == "showSerialError")
        return arity(0) ? "" : "arguments where none belong";
    if (n == "showFolderPicker" || n == "setSettingsFolder")
        return arity(2) ? "" : "not two texts";
    return "no such page function";
}

std::vector<std::string> PageCallCheck::SplitPending(const std::string& text) {
    std::vector<std::string> out;
    if (text.empty())
        return out;
    std::size_t i = 0;
    const std::size_t n = text.size();
    for (;;) {
        std::string item;
        if (text[i] == '"') {
            for (++i; i < n; ++i) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i];
            }
        }
        while (i < n && text[i] != '|')
            item += text[i++];
        out.push_back(item);
        if (i >= n)
            break;
        ++i;
    }
    return out;
}

PageCallCheck::Message PageCallCheck::Classify(const std::string& message) const {
    static const std::regex event(R"(Unit <b>(-?\d+)</b>: <b>(-?\d+)</b> / type: (-?\d+))");
    // A save names the units that did not answer; one that read nothing keeps the job before.
    static const std::regex saved(
        R"(Configuration saved to position (-?\d+)( without units? [0-9, ]+, which did not answer: a recall leaves them as they are)?)");
    static const std::regex notSaved(
        R"(Configuration not saved to position (-?\d+)(: no unit answered; the job stored there before is kept)?)");
    static const std::regex notRecalled(R"(Nothing recalled: no job is stored in position (-?\d+))");
    Message m;
    std::smatch match;
    if (std::regex_match(message, match, event)) {
        m.kind = MessageKind::UnitEvent;
        m.unit = std::atoi(match[1].str().c_str());
        m.code = std::atoi(match[2].str().c_str());
        const int kind = std::atoi(match[3].str().c_str());
        const bool knownCode = (m.code >= 0 && m.code <= 5) || (m.code == 10 && m.unit == 0);
        m.sane = m.unit >= 0 && m.unit <= units_ && knownCode && kind >= 0 && kind <= 3;
    } else if (std::regex_match(message, match, saved)) {
        m.kind = MessageKind::MemorySaved;
        m.sane = Integer(match[1].str(), 1, 4);
    } else if (std::regex_match(message, match, notSaved)) {
        m.kind = MessageKind::MemoryNotSaved;
        m.sane = Integer(match[1].str(), 1, 4);
    } else if (std::regex_match(message, match, notRecalled)) {
        m.kind = MessageKind::MemoryNotRecalled;
        m.sane = Integer(match[1].str(), 1, 4);
    } else if (message.rfind("Unexpected error: ", 0) == 0) {
        m.kind = MessageKind::UnexpectedError;
    }
    return m;
}

std::string PageCallCheck::JoinUnits(const std::vector<int>& units) {
    std::string text;
    for (int unit : units)
        text += (text.empty() ? "" : ",") + std::to_string(unit);
    return text;
}

std::vector<int> PageCallCheck::SplitUnits(const std::string& text) {
    std::vector<int> units;
    std::string entry;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ',';
        if (c == ',' || std::isspace(static_cast<unsigned char>(c))) {
            long unit = 0;
            if (Integer(entry, 0, 1000, &unit))
                units.push_back(static_cast<int>(unit));
            entry.clear();
        } else {
            entry += c;
        }
    }
    return units;
}
