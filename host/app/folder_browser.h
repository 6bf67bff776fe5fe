#pragma once

#include <string>

// The folder picker's view of one folder, as a JSON text:
// {"path": the folder, "parent": its parent ("" at the top), "folders": the
// names of its subfolders in name order, "error": "" or why it cannot be listed}.
// An empty path lists the starting folder given.
std::string FolderListing(const std::string& path, const std::string& startFolder);

// A folder text for the double-quoted arguments of a page call: every "\"
// doubled, a double quote behind a backslash, control characters as \u escapes.
std::string FolderForScript(const std::string& folder);
