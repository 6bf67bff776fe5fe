#include "app/lenient_json.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kMaxDepth = 256;

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> Document() {
        JsonValue value;
        if (!Value(value, 0))
            return std::nullopt;
        SkipBlanks();
        if (pos_ != text_.size())
            return std::nullopt;
        return value;
    }

private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

    void SkipBlanks() {
        while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' ||
                            text_[pos_] == '\r'))
            ++pos_;
    }

    bool Literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word)
            return false;
        pos_ += word.size();
        return true;
    }

    bool Value(JsonValue& out, int depth) {
        if (depth > kMaxDepth)
            return false;
        SkipBlanks();
        const char c = Peek();
        if (c == '{')
            return Object(out, depth);
        if (c == '[')
            return Array(out, depth);
        if (c == '"' || c == '\'') {
            std::string s;
            if (!String(s))
                return false;
            out = std::move(s);
            return true;
        }
        if (c == '-' || (c >= '0' && c <= '9'))
            return Number(out);
        if (Literal("true")) {
            out = true;
            return true;
        }
        if (Literal("false")) {
            out = false;
            return true;
        }
        if (Literal("null")) {
            out = nullptr;
            return true;
        }
        return false;
    }

    bool Object(JsonValue& out, int depth) {
        ++pos_;
        out = JsonValue::object();
        // The ordered object finds a member by walking all of them; an index
        // of its own keeps a text with many members from taking quadratic time.
        auto& members = static_cast<std::vector<JsonValue::object_t::value_type>&>(
            out.get_ref<JsonValue::object_t&>());
        std::unordered_map<std::string, std::size_t> index;
        SkipBlanks();
        if (Peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            SkipBlanks();
            std::string name;
            if (Peek() == '"' || Peek() == '\'') {
                if (!String(name))
                    return false;
            } else if (!BareName(name)) {
                return false;
            }
            SkipBlanks();
            if (Peek() != ':')
                return false;
            ++pos_;
            JsonValue member;
            if (!Value(member, depth + 1))
                return false;
            // A repeated name keeps its first place and takes the last value.
            if (const auto known = index.find(name); known != index.end()) {
                members[known->second].second = std::move(member);
            } else {
                index.emplace(name, members.size());
                members.emplace_back(std::move(name), std::move(member));
            }
            SkipBlanks();
            if (Peek() == ',') {
                ++pos_;
                continue;
            }
            if (Peek() == '}') {
                ++pos_;
                return true;
            }
            return false;
        }
    }

    bool Array(JsonValue& out, int depth) {
        ++pos_;
        out = JsonValue::array();
        SkipBlanks();
        if (Peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            JsonValue element;
            if (!Value(element, depth + 1))
                return false;
            out.push_back(std::move(element));
            SkipBlanks();
            if (Peek() == ',') {
                ++pos_;
                continue;
            }
            if (Peek() == ']') {
                ++pos_;
                return true;
            }
            return false;
        }
    }

    static bool NameChar(char c) {
        const auto u = static_cast<unsigned char>(c);
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '$' || c == '-' || u >= 0x80;
    }

    bool BareName(std::string& name) {
        const size_t start = pos_;
        while (!AtEnd() && NameChar(text_[pos_]))
            ++pos_;
        name.assign(text_.substr(start, pos_ - start));
        return !name.empty();
    }


    bool Hex4(uint32_t& out) {
        if (pos_ + 4 > text_.size())
            return false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool String(std::string& out) {
        const char quote = text_[pos_++];
        for (;;) {
            if (AtEnd())
                return false;
            const char c = text_[pos_++];
            if (c == quote)
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (AtEnd())
                return false;
            const char e = text_[pos_++];
            switch (e) {
            case '"':
            case '\'':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t unit = 0;
                if (!Hex4(unit))
                    return false;
                if (unit >= 0xD800 && unit < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
                    const size_t back = pos_;
                    pos_ += 2;
                    uint32_t low = 0;
                    if (Hex4(low) && low >= 0xDC00 && low < 0xE000) {
                        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                        break;
                    }
                    pos_ = back;
                }
                // A lone surrogate has no UTF-8 form.
                AppendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
                break;
            }
            default:
                return false;
            }
        }
    }

    bool Number(JsonValue& out) {
        const size_t start = pos_;
        bool integral = true;
        if (Peek() == '-')
            ++pos_;
        if (!Digits())
            return false;
        if (Peek() == '.') {
            integral = false;
            ++pos_;
            if (!Digits())
                return false;
        }
        if (Peek() == 'e' || Peek() == 'E') {
            integral = false;
            ++pos_;
            if (Peek() == '+' || Peek() == '-')
                ++pos_;
            if (!Digits())
                return false;
        }
        const std::string token(text_.substr(start, pos_ - start));
        if (integral) {
            errno = 0;
            char* end = nullptr;
            const long long v = std::strtoll(token.c_str(), &end, 10);
            if (errno == 0) {
                out = static_cast<int64_t>(v);
                return true;
            }
        }
        out = std::strtod(token.c_str(), nullptr);
        return true;
    }

    bool Digits() {
        const size_t start = pos_;
        while (!AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9')
            ++pos_;
        return pos_ > start;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

// One code point from UTF-8 at s[i]; advances i. A broken sequence yields
// U+FFFD and moves on by one byte.
uint32_t NextCodePoint(const std::string& s, size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int length = 0;
    uint32_t cp = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    } else if (b0 >= 0xC2 && b0 < 0xE0) {
        length = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 < 0xF0) {
        length = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 < 0xF5) {
        length = 4;
        cp = b0 & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + static_cast<size_t>(length) > s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
        ++i;
        return 0xFFFD;
    }
    i += static_cast<size_t>(length);
    return cp;
}

void AppendUnit(std::string& out, uint32_t unit) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(unit));
    out += buffer;
}

void WriteFullString(std::string& out, const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const uint32_t cp = NextCodePoint(s, i);
        switch (cp) {
        case '\b':
            out += "\\b";
            continue;
        case '\t':
            out += "\\t";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\f':
            out += "\\f";
            continue;
        case '\r':
            out += "\\r";
            continue;
        case '"':
        case '\\':
        case '/':
            out += '\\';
            out += static_cast<char>(cp);
            continue;
        default:
            break;
        }
        if (cp >= 32 && cp <= 127) {
            out += static_cast<char>(cp);
        } else if (cp < 0x10000) {
            AppendUnit(out, cp);
        } else {
            AppendUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
            AppendUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
}

void WriteMinimalString(std::string& out, const std::string& s) {
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 32) {
            AppendUnit(out, static_cast<unsigned char>(c));
        } else {
            out += c;
        }
    }
}

void Write(std::string& out, const JsonValue& value, JsonEscaping escaping) {
    auto text = [&](const std::string& s) {
        out += '"';
        if (escaping == JsonEscaping::Full)
            WriteFullString(out, s);
        else
            WriteMinimalString(out, s);
        out += '"';
    };
    switch (value.type()) {
    case JsonValue::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& [name, member] : value.items()) {
            if (!first)
                out += ',';
            first = false;
            text(name);
            out += ':';
            Write(out, member, escaping);
        }
        out += '}';
        break;
    }
    case JsonValue::value_t::array: {
        out += '[';
        bool first = true;
        for (const auto& element : value) {
            if (!first)
                out += ',';
            first = false;
            Write(out, element, escaping);
        }
        out += ']';
        break;
    }
    case JsonValue::value_t::string:
        text(value.get_ref<const std::string&>());
        break;
    default:
        // Numbers, booleans and null hold no text to escape.
        out += value.dump();
        break;
    }
}

} // namespace

std::string ShieldForScriptString(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (u < 32 || c == '\'') {
            AppendUnit(out, u);
        } else {
            out += c;
        }
    }
    return out;
}

JsonValue ShieldTextsForScriptString(const JsonValue& value) {
    if (value.is_string())
        return ShieldForScriptString(value.get_ref<const std::string&>());
    if (value.is_array()) {
        JsonValue out = JsonValue::array();
        for (const auto& element : value)
            out.push_back(ShieldTextsForScriptString(element));
        return out;
    }
    if (value.is_object()) {
        JsonValue out = JsonValue::object();
        for (const auto& [name, member] : value.items())
            out[ShieldForScriptString(name)] = ShieldTextsForScriptString(member);
        return out;
    }
    return value;
}

std::optional<JsonValue> ParseLenientJson(std::string_view text) {
    return Reader(text).Document();
}

std::string WriteJson(const JsonValue& value, JsonEscaping escaping) {
    std::string out;
    Write(out, value, escaping);
    return out;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
