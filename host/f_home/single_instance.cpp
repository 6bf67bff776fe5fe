#include "f_home/single_instance.h"

#include <cctype>

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
