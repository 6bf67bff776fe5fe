#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Where the host finds its page and keeps its files.
struct HostPaths {
    // Folder of the program file; htmlapp/ and its locales lie beside the program.
    std::filesystem::path programFolder;
    // Storage folder chosen on the command line; otherwise the user's
    // application-data folder followed by the application title.
    std::optional<std::filesystem::path> storageOverride;
    // Page folder chosen on the command line in place of htmlapp/ beside the program.
    std::optional<std::filesystem::path> pageOverride = std::nullopt;
};

inline constexpr const char* kApplicationTitle = "Tessaro Control";

// Full path of the running program file; empty when the system cannot name it.
std::filesystem::path ProgramFile();

// The current user's application-data folder: on Linux $XDG_CONFIG_HOME, else
// $HOME/.config (nothing when neither is set to an absolute path); on Windows
// the roaming application-data folder (%APPDATA%).
std::optional<std::filesystem::path> ApplicationDataFolder();

// A folder the program ships with (htmlapp, samples): beside the program in a
// build, in ../share/tessaro/ when installed into bin/.
std::filesystem::path ShippedFolder(const std::filesystem::path& programFolder, const std::string& name);

// The folder the page and its locales are served from.
std::filesystem::path PageFolder(const HostPaths& paths);

// The host's storage folder (not created here); nothing when the
// application-data folder cannot be named and no folder was chosen.
std::optional<std::filesystem::path> StorageFolder(const HostPaths& paths);

// Creates folder with its missing parents; the folder itself, when it is new,
// only for the user (the press PC is shared). False when it is not there after.
bool CreatePrivateFolder(const std::filesystem::path& folder);

// Creates file empty, only for the user, where it does not exist yet; a file
// that is there keeps its content and mode (the library keeps the mode when it
// rewrites a file).
void CreatePrivateFile(const std::filesystem::path& file);
