// Any text through the host's lenient JSON reader and both writers: every
// strict JSON text reads as the strict parser reads it, what is read writes
// and reads back the same, and the fully escaped form is plain ASCII that
// the page's JSON.parse takes. Built as a libFuzzer target here and as the
// corpus replayer of the fuzz tests.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/lenient_json.h"
#include "fuzz_check.h"
#include "fuzz_json.h"

namespace {

enum class NonFinite { Kept, WrittenAsNull };

bool IsInteger(const JsonValue& v) {
    return v.is_number_integer() || v.is_number_unsigned();
}

// Same kinds and values, members in the same order. Signed and unsigned
// integers of one value are the same (the strict parser reads 5 as unsigned);
// the lenient reader reads a whole number beyond the signed 64-bit range as
// the nearest float.
bool Same(const JsonValue& a, const JsonValue& b, NonFinite nonFinite) {
    if (a.is_number_float() && !std::isfinite(a.get<double>()) && nonFinite == NonFinite::WrittenAsNull)
        return b.is_null();
    if (IsInteger(a) && IsInteger(b)) {
        if (a.is_number_unsigned() != b.is_number_unsigned() &&
            (a.get<int64_t>() < 0 || b.get<int64_t>() < 0))
            return false;
        return a.get<uint64_t>() == b.get<uint64_t>();
    }
    if (a.is_number_unsigned() && b.is_number_float())
        return a.get<int64_t>() < 0 && static_cast<double>(a.get<uint64_t>()) == b.get<double>();
    if (IsInteger(a) || IsInteger(b))
        return false;
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
    case JsonValue::value_t::number_float: {
        const double x = a.get<double>();
        const double y = b.get<double>();
        return x == y && std::signbit(x) == std::signbit(y);
    }
    case JsonValue::value_t::array:
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (!Same(a[i], b[i], nonFinite))
                return false;
        return true;
    case JsonValue::value_t::object: {
        if (a.size() != b.size())
            return false;
        auto x = a.items().begin();
        auto y = b.items().begin();
        for (; x != a.items().end(); ++x, ++y)
            if (x.key() != y.key() || !Same(x.value(), y.value(), nonFinite))
                return false;
        return true;
    }
    default:
        return a == b;
    }
}

// The reader takes values in up to 256 containers.
constexpr int kReaderDepth = 256;

bool Utf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        int length = b < 0x80                ? 1
                     : b >= 0xC2 && b < 0xE0 ? 2
                     : b >= 0xE0 && b < 0xF0 ? 3
                     : b >= 0xF0 && b < 0xF5 ? 4
                                             : 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > s.size())
            return false;
        uint32_t cp = length == 1 ? b : b & (0x7Fu >> length);
        for (int k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3Fu);
        }
        const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000))
            return false;
        i += static_cast<std::size_t>(length);
    }
    return true;
}

bool TextsAreUtf8(const JsonValue& v) {
    if (v.is_string())
        return Utf8(v.get_ref<const std::string&>());
    if (v.is_object())
        for (const auto& [name, member] : v.items())
            if (!Utf8(name) || !TextsAreUtf8(member))
                return false;
    if (v.is_array())
        for (const auto& member : v)
            if (!TextsAreUtf8(member))
                return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<JsonValue> value = ParseLenientJson(text);

    // Strict JSON is lenient JSON of the same value. The strict parser also
    // skips a byte order mark and ends the text at a zero byte; the page
    // sends neither.
    if (text.substr(0, 3) != "\xEF\xBB\xBF" && text.find('\0') == std::string_view::npos) {
        const JsonValue strict = JsonValue::parse(text.begin(), text.end(), nullptr, false);
        if (!strict.is_discarded() && JsonDepth(strict) <= kReaderDepth) {
            Check(value.has_value());
            Check(Same(strict, *value, NonFinite::Kept));
        }
    }
    if (!value)
        return 0;

    // Minimal escaping keeps every byte: the text reads back as it was, save
    // numbers beyond the double range, which JSON writes as null.
    const std::string minimal = WriteJson(*value, JsonEscaping::Minimal);
    const std::optional<JsonValue> minimalBack = ParseLenientJson(minimal);
    Check(minimalBack.has_value());
    Check(Same(*value, *minimalBack, NonFinite::WrittenAsNull));

    // Full escaping is printable ASCII, strict JSON, and reads back as it was
    // where the texts are UTF-8.
    const std::string full = WriteJson(*value, JsonEscaping::Full);
    for (const char c : full)
        Check(static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) <= 127);
    const std::optional<JsonValue> fullBack = ParseLenientJson(full);
    Check(fullBack.has_value());
    const JsonValue strictBack = JsonValue::parse(full, nullptr, false);
    Check(!strictBack.is_discarded());
    Check(Same(strictBack, *fullBack, NonFinite::Kept));
    if (TextsAreUtf8(*value))
        Check(Same(*value, *fullBack, NonFinite::WrittenAsNull));
    // What comes back is UTF-8 throughout (bytes of no sequence turned into
    // U+FFFD, and member names that became the same merged), and from there
    // on the writing loses nothing.
    Check(TextsAreUtf8(*fullBack));
    const std::optional<JsonValue> fullAgain = ParseLenientJson(WriteJson(*fullBack, JsonEscaping::Full));
    Check(fullAgain.has_value() && Same(*fullBack, *fullAgain, NonFinite::Kept));
    return 0;
}
