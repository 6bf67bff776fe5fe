#include "config/split_string.h"

namespace tsr {

std::string TrimBlanks(const std::string& text) {
    static constexpr const char* kBlanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitString(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    if (separator.empty()) {
        pieces.push_back(TrimBlanks(text));
        return pieces;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string::npos)
            break;
        pieces.push_back(TrimBlanks(text.substr(start, at - start)));
        start = at + separator.size();
    }
    pieces.push_back(TrimBlanks(text.substr(start)));
    return pieces;
}

} // namespace tsr
