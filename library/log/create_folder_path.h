#pragma once
#include <string>

namespace tsr {

class FileSystem;

// Creates the folders along path, from its second piece on and leaving out
// the last skipLast pieces. Pieces are cut at "/" (at "\" when the path has
// no "/"); the first piece (a drive or the first folder of a relative path)
// is never created. Folders that exist or whose parent is missing are passed
// over without a report.
void CreateFolderPath(FileSystem& fs, const std::string& path, int skipLast);

} // namespace tsr
