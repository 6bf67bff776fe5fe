#pragma once

#include <string>

// The library takes and gives texts in the system's single-byte code page;
// the host and its page work in UTF-8. Every text that crosses to or from the
// library passes through these two.
std::string ToLibraryText(const std::string& text);
// A null text gives the empty text.
std::string FromLibraryText(const char* text);
