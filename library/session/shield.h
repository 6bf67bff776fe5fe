#pragma once
#include <utility>

namespace tsr {

// Runs the body of an export; nothing thrown inside leaves the library.
template <class T, class Body> T Shield(T fallback, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return fallback;
    }
}

template <class Body> void ShieldVoid(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}

} // namespace tsr
