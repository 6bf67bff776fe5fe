#include "exchange/exchange_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tsr {

namespace {

// 256/100 as the single-precision value the console software has always used.
constexpr float kDuctorFactor = 256.0f / 100.0f;

std::string_view SkipBlanks(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n' ||
                               text[i] == '\v' || text[i] == '\f'))
        ++i;
    return text.substr(i);
}

} // namespace

int LeadingInteger(std::string_view text) {
    text = SkipBlanks(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<std::int32_t>::max())
            return negative ? std::numeric_limits<std::int32_t>::min()
                            : std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<int>(negative ? -value : value);
}

bool StartsWithInteger(std::string_view text) {
    text = SkipBlanks(text);
    if (!text.empty() && (text[0] == '+' || text[0] == '-'))
        text.remove_prefix(1);
    return !text.empty() && text[0] >= '0' && text[0] <= '9';
}

double LeadingNumber(std::string_view text) {
    text = SkipBlanks(text);
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range)
        return 0; // denormal-small or beyond double: neither is a key or a colour
    if (error != std::errc())
        return 0;
    return value;
}

int KeyFromFraction(double fraction) {
    double scaled = std::floor(fraction * 256.0 + 0.5);
    if (!(scaled > 0)) // also NaN
        return 0;
    if (scaled > 255)
        return 255;
    return static_cast<int>(scaled);
}

int DuctorToPress(int percent) {
    // The product in double keeps what the single-precision factor is short of: 50 gives 127.
    double value = std::trunc(static_cast<double>(percent) * static_cast<double>(kDuctorFactor));
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<int>(value);
}

int DuctorToPercent(int pressValue) {
    if (pressValue <= 0)
        return 0;
    return static_cast<int>(
        std::floor(static_cast<double>(pressValue) / static_cast<double>(kDuctorFactor) + 0.5));
}

std::string FormatThreeDigits(int value) {
    char text[16];
    int n = std::snprintf(text, sizeof text, "%.3d", value);
    return std::string(text, static_cast<std::size_t>(n));
}

std::string FormatThreeDecimals(double value) {
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    if (error != std::errc())
        return "0.000";
    return std::string(text, end);
}

std::string EscapeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

std::string DuctorCyclePath(const std::string& path) {
    if (path.size() < 4)
        return "_DC" + path;
    return path.substr(0, path.size() - 4) + "_DC" + path.substr(path.size() - 4);
}

} // namespace tsr
