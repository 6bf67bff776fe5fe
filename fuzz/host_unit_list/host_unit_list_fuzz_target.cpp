// Any text as the page's selectedUnits: the unit list begins with "0",
// stops at a zero character, and written back with the same quoting reads
// the same; each entry reads as a unit number exactly when it is an optional
// sign and decimal digits within 32 bits. Built as a libFuzzer target here
// and as the corpus replayer of the fuzz tests.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/unit_list.h"
#include "fuzz_check.h"

namespace {

bool NeedsQuotes(const std::string& entry) {
    if (entry.empty() || entry.front() == '"')
        return true;
    for (const char c : entry)
        if (static_cast<unsigned char>(c) <= ' ' || c == ',')
            return true;
    return false;
}

// The entries after "0", as a selection that reads back as the same list.
std::string Selection(const TUnitList& units) {
    std::string text;
    for (std::size_t i = 1; i < units.size(); ++i) {
        if (i > 1)
            text += ',';
        if (!NeedsQuotes(units[i])) {
            text += units[i];
            continue;
        }
        text += '"';
        for (const char c : units[i]) {
            if (c == '"')
                text += '"';
            text += c;
        }
        text += '"';
    }
    return text;
}

// The unit number of an entry by the rule of the header; nothing where
// UnitNumber must refuse the entry.
std::optional<int32_t> ExpectedNumber(const std::string& entry) {
    std::size_t i = 0;
    if (i < entry.size() && (entry[i] == '+' || entry[i] == '-'))
        ++i;
    if (i == entry.size())
        return std::nullopt;
    for (std::size_t k = i; k < entry.size(); ++k)
        if (entry[k] < '0' || entry[k] > '9')
            return std::nullopt;
    // Beyond 18 digits after the zeros in front no number fits 32 bits.
    std::size_t first = i;
    while (first + 1 < entry.size() && entry[first] == '0')
        ++first;
    if (entry.size() - first > 18)
        return std::nullopt;
    const long long magnitude = std::stoll(entry.substr(first));
    const long long value = entry[0] == '-' ? -magnitude : magnitude;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string selected(reinterpret_cast<const char*>(data), size);
    const TUnitList units = BuildUnitList(selected);
    Check(!units.empty() && units.front() == "0");
    Check(BuildUnitList(selected.substr(0, selected.find('\0'))) == units);
    for (std::size_t i = 1; i < units.size(); ++i)
        Check(units[i].find('\0') == std::string::npos);
    Check(BuildUnitList(Selection(units)) == units);

    for (const std::string& entry : units) {
        const std::optional<int32_t> expected = ExpectedNumber(entry);
        try {
            const int32_t number = UnitNumber(entry);
            Check(expected.has_value() && *expected == number);
        } catch (const std::invalid_argument& refused) {
            Check(!expected.has_value());
            Check(std::string(refused.what()) == "'" + entry + "' is not a valid integer value");
        }
    }
    return 0;
}
