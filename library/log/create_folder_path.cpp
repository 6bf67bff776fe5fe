#include "log/create_folder_path.h"

#include "config/split_string.h"
#include "platform/file_system.h"

namespace tsr {

void CreateFolderPath(FileSystem& fs, const std::string& path, int skipLast) {
    const std::vector<std::string> pieces =
        SplitString(path, path.find('/') != std::string::npos ? std::string("/") : std::string("\\"));
    const long last = static_cast<long>(pieces.size()) - (skipLast > 0 ? skipLast : 0);
    std::string folder = pieces.empty() ? std::string() : pieces[0] + "/";
    for (long k = 2; k <= last; ++k) {
        folder += pieces[static_cast<std::size_t>(k - 1)] + "/";
        fs.CreateFolder(folder);
    }
}

} // namespace tsr
