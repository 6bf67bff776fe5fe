#pragma once
#include <cstdlib>

namespace tsr::sim {

// A decimal number from low to high, the whole text; false otherwise.
inline bool ParseNumber(const char* text, int low, int high, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < low || v > high)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace tsr::sim
