#pragma once

#include <filesystem>
#include <string>

// Folders named the way the configuration names them: "\" and "/" both
// separate; a relative path is taken relative to the current folder.
std::filesystem::path ConfiguredFolder(const std::string& text);

// Creates the folders along the path. A component that exists in another
// letter case is used as it is, so that "memory" and the library's "Memory"
// stay one folder. False when a folder could not be made.
bool CreateFolderPathIgnoringCase(const std::string& text);
