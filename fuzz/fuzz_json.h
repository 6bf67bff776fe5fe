#pragma once

#include <algorithm>

// The most containers any value of a JSON value lies in: 0 for a plain value
// or an empty array, 1 for [1].
template <typename Json> int JsonDepth(const Json& value) {
    int deepest = 0;
    if (value.is_array() || value.is_object())
        for (const auto& member : value)
            deepest = std::max(deepest, 1 + JsonDepth(member));
    return deepest;
}
