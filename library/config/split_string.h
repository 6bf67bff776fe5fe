#pragma once
#include <string>
#include <vector>

namespace tsr {

// Cuts text at every occurrence of separator (any length). Each piece is
// trimmed of blanks, tabs and line ends; empty pieces are kept, and the piece
// after the last separator is always added ("" gives one empty piece).
std::vector<std::string> SplitString(const std::string& text, const std::string& separator);

// The text without leading and trailing blanks, tabs and line ends.
std::string TrimBlanks(const std::string& text);

} // namespace tsr
