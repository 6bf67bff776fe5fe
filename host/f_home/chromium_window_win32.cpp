// Where the browser is and whether there is a desktop for its window, on
// Windows: Edge or Chrome from the registry's App Paths, or $TSR_BROWSER.
#include "f_home/chromium_window.h"

#include "app/user_security_win32.h"

#include <cstdlib>

namespace {

// The default value of ...\App Paths\<program> under HKCU, then HKLM.
std::optional<std::filesystem::path> RegisteredProgram(const wchar_t* program) {
    const std::wstring key = std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") + program;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        wchar_t value[MAX_PATH * 2] = {};
        DWORD size = sizeof value;
        if (::RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, value, &size) !=
            ERROR_SUCCESS)
            continue;
        std::wstring path(value);
        if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
            path = path.substr(1, path.size() - 2);
        std::error_code error;
        if (!path.empty() && std::filesystem::is_regular_file(path, error))
            return std::filesystem::path(path);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::filesystem::path> ChromiumWindow::FindBrowser() {
    if (const wchar_t* chosen = ::_wgetenv(L"TSR_BROWSER"); chosen != nullptr && chosen[0] != L'\0')
        return std::filesystem::path(chosen);
    for (const wchar_t* program : {L"msedge.exe", L"chrome.exe"})
        if (auto found = RegisteredProgram(program))
            return found;
    return std::nullopt;
}

bool ChromiumWindow::DisplayAvailable() {
    // A service's window station has no desktop the operator sees.
    USEROBJECTFLAGS flags{};
    const HWINSTA station = ::GetProcessWindowStation();
    return station == nullptr ||
           !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) ||
           (flags.dwFlags & WSF_VISIBLE) != 0;
}
