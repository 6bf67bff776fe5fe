#include "host_paths.h"

#include <cstdlib>
#include <system_error>

std::filesystem::path ProgramFile() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::optional<std::filesystem::path> ApplicationDataFolder() {
    for (const auto& [variable, suffix] : {std::pair{"XDG_CONFIG_HOME", ""}, std::pair{"HOME", ".config"}}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] == '/')
            return std::filesystem::path(value) / suffix;
    }
    return std::nullopt;
}

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
