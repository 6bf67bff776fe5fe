#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A command's units as texts, always beginning with "0".
using TUnitList = std::vector<std::string>;

// The unit list of a command from the page's selection: entries are separated
// by commas, blanks and control characters; leading blanks are skipped; an
// entry may be quoted with double quotes (doubled inside); a comma followed by
// nothing, or by another comma, yields an empty entry. "0" comes first.
TUnitList BuildUnitList(const std::string& selectedUnits);

// The entry as a unit number: an optional sign and decimal digits, within the
// 32-bit range. Anything else throws std::invalid_argument naming the entry.
int32_t UnitNumber(const std::string& entry);
