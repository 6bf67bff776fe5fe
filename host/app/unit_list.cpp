#include "app/unit_list.h"

#include <limits>
#include <stdexcept>

namespace {

bool IsSeparatingBlank(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= ' ';
}

// A quoted entry from its opening quote; p ends after the closing quote (or at
// the end when there is none).
std::string QuotedEntry(const char*& p) {
    std::string entry;
    ++p;
    while (*p != '\0') {
        if (*p == '"') {
            if (p[1] != '"')
                break;
            ++p;
        }
        entry += *p++;
    }
    if (*p == '"')
        ++p;
    return entry;
}

} // namespace

TUnitList BuildUnitList(const std::string& selectedUnits) {
    TUnitList units{"0"};
    // The selection ends at a zero character, as a text handed over from the page.
    const char* p = selectedUnits.c_str();
    while (IsSeparatingBlank(*p))
        ++p;
    while (*p != '\0') {
        if (*p == '"') {
            units.push_back(QuotedEntry(p));
        } else {
            const char* start = p;
            while (static_cast<unsigned char>(*p) > ' ' && *p != ',')
                ++p;
            units.emplace_back(start, p);
        }
        while (IsSeparatingBlank(*p))
            ++p;
        if (*p == ',') {
            if (p[1] == '\0')
                units.emplace_back();
            do
                ++p;
            while (IsSeparatingBlank(*p));
        }
    }
    return units;
}

int32_t UnitNumber(const std::string& entry) {
    size_t i = 0;
    bool negative = false;
    if (i < entry.size() && (entry[i] == '+' || entry[i] == '-'))
        negative = entry[i++] == '-';
    if (i == entry.size())
        throw std::invalid_argument("'" + entry + "' is not a valid integer value");
    int64_t value = 0;
    for (; i < entry.size(); ++i) {
        const char c = entry[i];
        if (c < '0' || c > '9')
            throw std::invalid_argument("'" + entry + "' is not a valid integer value");
        value = value * 10 + (c - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1)
            throw std::invalid_argument("'" + entry + "' is not a valid integer value");
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int32_t>::max())
        throw std::invalid_argument("'" + entry + "' is not a valid integer value");
    return static_cast<int32_t>(value);
}
