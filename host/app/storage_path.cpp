#include "app/storage_path.h"

#include <algorithm>
#include <system_error>

StoragePath BuildStoragePath(const HostPaths& paths, const std::string& fileName) {
    StoragePath result;
    std::string path;
    if (const auto folder = StorageFolder(paths)) {
        CreatePrivateFolder(*folder);
        path = folder->string() + "\\" + fileName;
    } else {
        result.fallback = true;
        std::string program = paths.programFolder.string();
        if (!program.empty() && program.back() != '/' && program.back() != '\\')
            program += '/';
        path = program + fileName;
    }
    std::replace(path.begin(), path.end(), '\\', '/');
    result.path = path;
    return result;
}
