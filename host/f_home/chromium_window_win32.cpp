// The browser window on Windows: Edge or Chrome (from the registry's App
// Paths, or $TSR_BROWSER) started with CreateProcessW in app mode; the window
// is found by the browser's process id, and the window has closed when the
// process has ended.
#include "f_home/chromium_window.h"

#include "app/host_paths.h"
#include "app/user_security_win32.h"

#include <chrono>
#include <cstdlib>
#include <vector>

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

// One argument as the C runtime of the started program splits it back.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
    if (!line.empty())
        line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\'); // before the closing quote
    line += L'"';
}

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search.processId && ::IsWindowVisible(window) && ::GetWindow(window, GW_OWNER) == nullptr)
        search.windows.push_back(window);
    return TRUE;
}

// The browser's visible top-level windows.
std::vector<HWND> WindowsOf(DWORD processId) {
    WindowSearch search{processId, {}};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.windows;
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

ChromiumWindow::ChromiumWindow(std::filesystem::path browser, std::filesystem::path profileFolder)
    : browser_(std::move(browser)), profile_(std::move(profileFolder)) {}

ChromiumWindow::~ChromiumWindow() {
    Close();
}

bool ChromiumWindow::Open(const std::string& address, std::function<void()> onClosed, std::string& error) {
    CreatePrivateFolder(profile_); // the browser keeps the page's storage and cookies there
    std::wstring line;
    for (const std::wstring& argument :
         {browser_.wstring(), L"--app=" + WideFromUtf8(address), L"--user-data-dir=" + profile_.wstring(),
          std::wstring(L"--start-maximized"), std::wstring(L"--no-first-run"),
          std::wstring(L"--no-default-browser-check"), std::wstring(L"--disable-features=Translate")})
        AppendArgument(line, argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(browser_.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &started)) {
        error = browser_.string() + ": " + SystemErrorText(::GetLastError());
        return false;
    }
    ::CloseHandle(started.hThread);
    {
        std::lock_guard guard(lock_);
        pid_ = static_cast<pid_t>(started.dwProcessId);
        reaped_ = false;
    }
    // The watcher holds the process handle: while it is open the process id
    // cannot name another process, so Close may open it again by its id.
    watcher_ = std::thread([this, process = started.hProcess, onClosed = std::move(onClosed)] {
        ::WaitForSingleObject(process, INFINITE);
        {
            std::lock_guard guard(lock_);
            reaped_ = true;
            ::CloseHandle(process);
        }
        if (onClosed)
            onClosed();
    });
    return true;
}

void ChromiumWindow::BringToFront() {
    std::lock_guard guard(lock_);
    if (pid_ <= 0 || reaped_)
        return;
    for (HWND window : WindowsOf(static_cast<DWORD>(pid_))) {
        if (::IsIconic(window))
            ::ShowWindow(window, SW_RESTORE);
        ::SetForegroundWindow(window);
    }
}

void ChromiumWindow::Close() {
    {
        std::lock_guard guard(lock_);
        if (pid_ > 0 && !reaped_)
            for (HWND window : WindowsOf(static_cast<DWORD>(pid_)))
                ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    for (int waited = 0; waited < 50; ++waited) {
        {
            std::lock_guard guard(lock_);
            if (pid_ <= 0 || reaped_)
                break;
            if (waited == 49) {
                WinHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid_)));
                if (process.ok())
                    ::TerminateProcess(process.get(), 1);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (watcher_.joinable()) {
        if (watcher_.get_id() == std::this_thread::get_id())
            watcher_.detach();
        else
            watcher_.join();
    }
}
