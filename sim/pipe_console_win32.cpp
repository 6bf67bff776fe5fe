#include "pipe_console.h"

#include <windows.h>

#include <chrono>

namespace tsr::sim {

namespace {

std::int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

struct PipeConsole::Impl {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE stop = nullptr; // manual-reset: set when the console ends
    HANDLE connected = nullptr;
    std::function<void(const std::string&)> trace;
    std::int64_t startUs = NowUs();
    // A trace line in the pseudo-terminal console's format; the console's lock is held.
    void Trace(const std::string& text) const {
        if (trace)
            trace(TraceLine(NowUs() - startUs, text));
    }
};

PipeConsole::PipeConsole(const std::string& prefix, int port, const ConsoleConfig& config)
    : pipeName_(prefix + "\\COM" + std::to_string(port)), console_(config), impl_(std::make_unique<Impl>()) {
    impl_->stop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    impl_->connected = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // One instance: a second library finds the port in use, as with a real port.
    impl_->pipe = ::CreateNamedPipeA(pipeName_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                                            FILE_FLAG_FIRST_PIPE_INSTANCE,
                                     PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 8192, 8192, 0, nullptr);
    if (impl_->pipe != INVALID_HANDLE_VALUE)
        thread_ = std::thread([this] { Run(); });
}

PipeConsole::~PipeConsole() {
    stop_ = true;
    ::SetEvent(impl_->stop);
    if (thread_.joinable())
        thread_.join();
    if (impl_->pipe != INVALID_HANDLE_VALUE)
        ::CloseHandle(impl_->pipe);
    ::CloseHandle(impl_->stop);
    ::CloseHandle(impl_->connected);
}

bool PipeConsole::ok() const {
    return impl_->pipe != INVALID_HANDLE_VALUE;
}

UnitState PipeConsole::Unit(int unit) const {
    std::lock_guard lock(mutex_);
    return console_.Unit(unit);
}

void PipeConsole::AddFault(int target, const Fault& fault, int times) {
    std::lock_guard lock(mutex_);
    console_.AddFault(target, fault, times);
}

void PipeConsole::SetUnit(int unit, const UnitState& state) {
    std::lock_guard lock(mutex_);
    console_.SetUnit(unit, state);
}

void PipeConsole::SetTrace(std::function<void(const std::string&)> trace) {
    std::lock_guard lock(mutex_);
    impl_->trace = std::move(trace);
    console_.SetNote([this](const std::string& text) { impl_->Trace("   " + text); });
}

void PipeConsole::Run() {
    HANDLE pipe = impl_->pipe;
    while (!stop_) {
        // Wait for a library to open the pipe (or for the end).
        OVERLAPPED connect{};
        connect.hEvent = impl_->connected;
        ::ResetEvent(impl_->connected);
        if (!::ConnectNamedPipe(pipe, &connect)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_PENDING) {
                HANDLE waits[] = {impl_->stop, impl_->connected};
                if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
                    ::CancelIo(pipe);
                    break;
                }
            } else if (error != ERROR_PIPE_CONNECTED) {
                ::Sleep(10);
                continue;
            }
        }
        // Serve it until it closes the pipe.
        bool open = true;
        while (open && !stop_) {
            DWORD available = 0;
            if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
                open = false;
                break;
            }
            std::lock_guard lock(mutex_);
            if (available > 0) {
                std::uint8_t buffer[1024];
                DWORD n = 0;
                OVERLAPPED read{};
                read.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
                const DWORD want = available < sizeof buffer ? available : sizeof buffer;
                if (::ReadFile(pipe, buffer, want, &n, &read) || ::GetLastError() == ERROR_IO_PENDING)
                    ::GetOverlappedResult(pipe, &read, &n, TRUE);
                ::CloseHandle(read.hEvent);
                if (n > 0)
                    impl_->Trace("<- " + HexBytes(buffer, n));
                console_.Receive(buffer, n, NowUs());
            }
            for (const Output& out : console_.Tick(NowUs())) {
                if (out.hangUp) {
                    open = false;
                    break;
                }
                DWORD n = 0;
                OVERLAPPED write{};
                write.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
                if (::WriteFile(pipe, out.bytes.data(), static_cast<DWORD>(out.bytes.size()), &n, &write) ||
                    ::GetLastError() == ERROR_IO_PENDING)
                    ::GetOverlappedResult(pipe, &write, &n, TRUE);
                ::CloseHandle(write.hEvent);
                impl_->Trace("-> " + HexBytes(out.bytes.data(), out.bytes.size()));
            }
            if (available == 0)
                ::Sleep(1);
        }
        ::DisconnectNamedPipe(pipe);
    }
}

} // namespace tsr::sim
