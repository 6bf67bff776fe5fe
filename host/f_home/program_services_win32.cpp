#include "f_home/program_services.h"
#include "app/user_security_win32.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <thread>

namespace {

// The loop the console's control handler stops; the handler has no context of its own.
std::atomic<UiLoop*> g_consoleStops{nullptr};

BOOL WINAPI OnConsoleControl(DWORD) {
    if (UiLoop* ui = g_consoleStops.load())
        ui->Quit();
    return TRUE;
}

LRESULT CALLBACK OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* ui = reinterpret_cast<UiLoop*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_CLOSE:
    case WM_ENDSESSION:
        if (ui != nullptr && (message == WM_CLOSE || wParam != 0))
            ui->Quit();
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

bool Usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

void ConnectStandardStreams() {
    // Given a file or a pipe: the C runtime writes there already.
    if (Usable(::GetStdHandle(STD_OUTPUT_HANDLE)))
        return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return; // started from the desktop: nobody reads it
    FILE* ignored = nullptr;
    ::freopen_s(&ignored, "CONOUT$", "w", stdout);
    ::freopen_s(&ignored, "CONOUT$", "w", stderr);
}

// A hidden top-level window of its own thread takes the session's end and a
// polite close (taskkill without /F); a console the program writes to takes Ctrl-C.
struct StopRequests::Impl {
    std::atomic<DWORD> threadId{0}; // of the window's thread, while it has a window
    std::thread thread;
};

void StopRequests::PrepareAllThreads() {}

StopRequests::StopRequests(UiLoop& ui) : impl_(std::make_unique<Impl>()) {
    g_consoleStops = &ui;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    Impl& impl = *impl_;
    WinHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    impl.thread = std::thread([&impl, &ui, readyEvent = ready.get()] {
        WNDCLASSEXW type{};
        type.cbSize = sizeof type;
        type.lpfnWndProc = OnMessage;
        type.hInstance = ::GetModuleHandleW(nullptr);
        type.lpszClassName = L"TessaroStopRequests";
        ::RegisterClassExW(&type);
        HWND window = ::CreateWindowExW(0, type.lpszClassName, L"Tessaro Control", 0, 0, 0, 0, 0, nullptr, nullptr,
                                        type.hInstance, nullptr);
        if (window != nullptr)
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&ui));
        if (window != nullptr)
            impl.threadId = ::GetCurrentThreadId();
        ::SetEvent(readyEvent);
        if (window == nullptr)
            return;
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::DestroyWindow(window);
    });
    ::WaitForSingleObject(ready.get(), INFINITE);
}

StopRequests::~StopRequests() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_consoleStops = nullptr;
    if (const DWORD id = impl_->threadId.load(); id != 0)
        ::PostThreadMessageW(id, WM_QUIT, 0, 0);
    impl_->thread.join();
}

bool CanWriteIn(const std::filesystem::path& folder) {
    // Access rules and an installer's folder in Program Files are judged by trying.
    const std::filesystem::path probe = folder / (".tessaro-write-" + std::to_string(::GetCurrentProcessId()));
    WinHandle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file.ok();
}
