// Where the host's files are on Windows: the program file from the system,
// the user's roaming application-data folder (%APPDATA%), folders and files
// made for the user alone.
#include "app/host_paths.h"
#include "app/user_security_win32.h"

#include <shlobj.h>

#include <system_error>
#include <vector>

std::filesystem::path ProgramFile() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::filesystem::path();
        if (length < buffer.size())
            return std::filesystem::path(std::wstring(buffer.data(), length));
        if (buffer.size() >= 32768)
            return std::filesystem::path();
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::filesystem::path> ApplicationDataFolder() {
    PWSTR folder = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &folder);
    std::optional<std::filesystem::path> path;
    if (SUCCEEDED(result) && folder != nullptr && folder[0] != L'\0')
        path = std::filesystem::path(folder);
    ::CoTaskMemFree(folder);
    return path;
}

bool CreatePrivateFolder(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(folder, error))
        return true;
    if (folder.has_parent_path() && folder.parent_path() != folder)
        fs::create_directories(folder.parent_path(), error);
    UserOnlySecurity security(UserOnlySecurity::Kind::Folder);
    ::CreateDirectoryW(folder.c_str(), security.get());
    return fs::is_directory(folder, error);
}

void CreatePrivateFile(const std::filesystem::path& file) {
    UserOnlySecurity security(UserOnlySecurity::Kind::Object);
    // CREATE_NEW: a file that is there keeps its content and its access rules.
    WinHandle created(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, security.get(), CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}
