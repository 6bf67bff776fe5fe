// The browser process on Windows: started with CreateProcessW, its DevTools
// pipe handed over as the C runtime's descriptors 3 (commands in) and 4
// (replies and events out), as the browser takes them; the profile lock it
// leaves behind is the profile's "lockfile", held open while it runs.
#include "f_home/browser_process.h"

#include "app/user_security_win32.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>
#include <algorithm>

namespace {

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

// The block of inherited C runtime descriptors (STARTUPINFO's lpReserved2):
// their count, a flag byte each, then a handle each; 0 to 2 are left to the
// standard handles.
std::vector<unsigned char> InheritedDescriptors(HANDLE three, HANDLE four) {
    constexpr int kCount = 5;
    constexpr unsigned char kOpenPipe = 0x01 | 0x08; // FOPEN | FPIPE
    std::vector<unsigned char> block(sizeof(int) + kCount * (1 + sizeof(HANDLE)));
    const int count = kCount;
    std::memcpy(block.data(), &count, sizeof count);
    unsigned char* flags = block.data() + sizeof(int);
    unsigned char* handles = flags + kCount;
    for (int fd = 0; fd < kCount; ++fd) {
        HANDLE handle = fd == 3 ? three : fd == 4 ? four : INVALID_HANDLE_VALUE;
        flags[fd] = fd >= 3 ? kOpenPipe : 0;
        std::memcpy(handles + fd * sizeof(HANDLE), &handle, sizeof handle);
    }
    return block;
}

class Win32BrowserProcess : public BrowserProcess {
public:
    Win32BrowserProcess(HANDLE process, DWORD processId, HANDLE commands, HANDLE replies)
        : process_(process), processId_(processId), commands_(commands), replies_(replies) {}

    ~Win32BrowserProcess() override {
        if (!WaitForEnd(std::chrono::milliseconds(0))) {
            Kill();
            ::WaitForSingleObject(process_.get(), 5000);
        }
    }

    size_t ReadSome(char* buffer, size_t size) override {
        // An anonymous pipe has no waitable read: look at it until there is
        // something, it is broken, or the reading is cancelled.
        while (!cancelled_) {
            DWORD available = 0;
            if (!::PeekNamedPipe(replies_.get(), nullptr, 0, nullptr, &available, nullptr))
                return 0;
            if (available == 0) {
                ::Sleep(20);
                continue;
            }
            DWORD read = 0;
            const DWORD wanted = static_cast<DWORD>(std::min<size_t>(size, available));
            if (!::ReadFile(replies_.get(), buffer, wanted, &read, nullptr) || read == 0)
                return 0;
            return read;
        }
        return 0;
    }

    bool WriteAll(const char* data, size_t size) override {
        while (size > 0) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 20));
            if (!::WriteFile(commands_.get(), data, chunk, &written, nullptr) || written == 0)
                return false;
            data += written;
            size -= written;
        }
        return true;
    }

    void CancelRead() override { cancelled_ = true; }

    bool WaitForEnd(std::chrono::milliseconds wait) override {
        return ::WaitForSingleObject(process_.get(), static_cast<DWORD>(wait.count())) == WAIT_OBJECT_0;
    }

    // Windows has no signal to ask with: the browser's windows are asked to close.
    void Terminate() override {
        for (HWND window : WindowsOf(processId_))
            ::PostMessageW(window, WM_CLOSE, 0, 0);
    }

    // The handle is held open, so the process cannot be another one by now.
    void Kill() override { ::TerminateProcess(process_.get(), 1); }

private:
    WinHandle process_;
    const DWORD processId_;
    WinHandle commands_;
    WinHandle replies_;
    std::atomic<bool> cancelled_{false};
};

} // namespace

std::unique_ptr<BrowserProcess> BrowserProcess::Start(const std::filesystem::path& program,
                                                      const std::vector<std::string>& arguments, std::string& error) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE commandsRead = nullptr, commandsWrite = nullptr, repliesRead = nullptr, repliesWrite = nullptr;
    if (!::CreatePipe(&commandsRead, &commandsWrite, &inheritable, 0)) {
        error = "no pipe for the browser: " + SystemErrorText(::GetLastError());
        return nullptr;
    }
    WinHandle childCommands(commandsRead), ownCommands(commandsWrite);
    if (!::CreatePipe(&repliesRead, &repliesWrite, &inheritable, 0)) {
        error = "no pipe for the browser: " + SystemErrorText(::GetLastError());
        return nullptr;
    }
    WinHandle ownReplies(repliesRead), childReplies(repliesWrite);
    // Only the child's ends are inherited.
    ::SetHandleInformation(ownCommands.get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(ownReplies.get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring line;
    AppendArgument(line, program.wstring());
    AppendArgument(line, L"--remote-debugging-pipe");
    for (const std::string& argument : arguments)
        AppendArgument(line, WideFromUtf8(argument));
    std::vector<unsigned char> descriptors = InheritedDescriptors(childCommands.get(), childReplies.get());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.cbReserved2 = static_cast<WORD>(descriptors.size());
    startup.lpReserved2 = descriptors.data();
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &started)) {
        error = program.string() + ": " + SystemErrorText(::GetLastError());
        return nullptr;
    }
    ::CloseHandle(started.hThread);
    // The child's ends are the child's alone now: the end of its stream is seen when it ends.
    childCommands.Reset();
    childReplies.Reset();
    // The process object takes our ends over (duplicates, as WinHandle cannot let go of one).
    HANDLE commands = nullptr, replies = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    ::DuplicateHandle(self, ownCommands.get(), self, &commands, 0, FALSE, DUPLICATE_SAME_ACCESS);
    ::DuplicateHandle(self, ownReplies.get(), self, &replies, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return std::make_unique<Win32BrowserProcess>(started.hProcess, started.dwProcessId, commands, replies);
}

bool BrowserProcess::FreeProfile(const std::filesystem::path& profile, std::string& why) {
    why.clear();
    // A running browser keeps "lockfile" open, so it cannot be removed; one
    // that was killed left it closed, and removing it frees the profile.
    const std::filesystem::path lock = profile / "lockfile";
    if (::DeleteFileW(lock.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND ||
        ::GetLastError() == ERROR_PATH_NOT_FOUND)
        return true;
    why = "the browser profile " + profile.string() + " is held by a browser left running";
    return false;
}
