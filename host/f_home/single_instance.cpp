#include "f_home/single_instance.h"

#include <cctype>
#include <cstdint>
#include <cstdio>

std::string SingleInstance::Identity(const std::filesystem::path& programFile) {
    std::string identity = programFile.string();
    for (char& c : identity) {
        if (c == '/' || c == '\\')
            c = '_';
        else
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return identity;
}

std::string SingleInstance::IdentityHash() const {
    uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (unsigned char c : identity_) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}
