#include "host_paths.h"

#include <system_error>

std::filesystem::path ShippedFolder(const std::filesystem::path& programFolder, const std::string& name) {
    std::error_code error;
    const std::filesystem::path beside = programFolder / name;
    const std::filesystem::path installed = programFolder.parent_path() / "share" / "tessaro" / name;
    if (!std::filesystem::exists(beside, error) && std::filesystem::is_directory(installed, error))
        return installed;
    return beside;
}

std::filesystem::path PageFolder(const HostPaths& paths) {
    return paths.pageOverride ? *paths.pageOverride : ShippedFolder(paths.programFolder, "htmlapp");
}

std::optional<std::filesystem::path> StorageFolder(const HostPaths& paths) {
    if (paths.storageOverride)
        return paths.storageOverride;
    if (auto appData = ApplicationDataFolder())
        return (*appData / kApplicationTitle).lexically_normal();
    return std::nullopt;
}
