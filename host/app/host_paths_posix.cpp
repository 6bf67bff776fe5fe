// Where the host's files are on Linux: the program file from /proc, the
// XDG configuration folder, folders and files made for the user alone.
#include "app/host_paths.h"

#include <cstdlib>
#include <fstream>
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

bool CreatePrivateFolder(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(folder, error))
        return true;
    if (folder.has_parent_path() && folder.parent_path() != folder)
        fs::create_directories(folder.parent_path(), error);
    if (fs::create_directory(folder, error))
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, error);
    return fs::is_directory(folder, error);
}

void CreatePrivateFile(const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(fs::symlink_status(file, error)))
        return;
    // Made under a temporary name and given its mode before it appears, so the
    // file is never readable by others.
    const fs::path temp = file.parent_path() / ("." + file.filename().string() + ".new");
    fs::remove(temp, error);
    { std::ofstream(temp, std::ios::binary); }
    fs::permissions(temp, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, error);
    if (!error && !fs::exists(fs::symlink_status(file, error)))
        fs::rename(temp, file, error);
    fs::remove(temp, error);
}
