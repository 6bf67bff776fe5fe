#pragma once

#include <string>

#include "app/host_paths.h"

inline constexpr const char* kStorageFallbackMessage =
    "Application data path could not be retrieved. Local path is used instead. The application needs to run in "
    "adminsitrator mode or it might not function properly.";

struct StoragePath {
    std::string path;      // "/" separators
    bool fallback = false; // the program folder stands in for the storage folder
};

// A file in the host's storage folder, which is created with its parents;
// the program folder when no storage folder can be named.
StoragePath BuildStoragePath(const HostPaths& paths, const std::string& fileName);
