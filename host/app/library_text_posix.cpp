// On Linux the system's code page is UTF-8: texts cross as they are.
#include "app/library_text.h"

std::string ToLibraryText(const std::string& text) {
    return text;
}

std::string FromLibraryText(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}
