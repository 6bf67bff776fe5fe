#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tsr {

// Texts and numbers of the exchange files: locale-free number reading, the
// value scales, and text taken from a file on its way into the HTML log.

// The decimal integer at the start of text (blanks and a sign allowed), 0 if
// none; limited to the 32-bit range.
int LeadingInteger(std::string_view text);
// Whether text begins (after blanks and a sign) with a decimal digit.
bool StartsWithInteger(std::string_view text);
// The decimal number at the start of text, 0 if none.
double LeadingNumber(std::string_view text);

// Ink-zone fraction 0..1 to a key byte: x256, halves up, limited to 0..255.
int KeyFromFraction(double fraction);
// Ductor percent to the press scale: x2.56 (single-precision factor), cut toward zero.
int DuctorToPress(int percent);
// Back again: /2.56, halves up; 0 for values not above 0.
int DuctorToPercent(int pressValue);
// "%.3d" and "%.3f" as the outgoing files need them.
std::string FormatThreeDigits(int value);
std::string FormatThreeDecimals(double value);

// Text from an exchange file made safe for the HTML activity log: "<", ">"
// and "&" become references, so a name with markup shows as written.
std::string EscapeMarkup(std::string_view text);
// The ductor-cycle companion of a preset: "job.xml" gives "job_DC.xml" ("_DC"
// goes before the last four characters).
std::string DuctorCyclePath(const std::string& path);
// Case-insensitive comparison of ASCII texts.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

} // namespace tsr
