#include "platform/serial_port.h"

#include "platform/win32_api.h"


namespace tsr {

namespace {

// A write that makes no progress for this long gives up with what went out.
constexpr DWORD kWriteWaitMs = 2000;
// How long a pipe that another library still holds is waited for.
constexpr DWORD kPipeBusyWaitMs = 1000;

bool DeviceGone(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA ||
           error == ERROR_DEVICE_REMOVED || error == ERROR_BAD_COMMAND || error == ERROR_INVALID_HANDLE ||
           error == ERROR_OPERATION_ABORTED || error == ERROR_ACCESS_DENIED;
}

} // namespace

struct SerialPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr; // auto-reset, of the one overlapped record
    OVERLAPPED overlapped{};
    bool pipe = false; // the simulated console's named pipe: no comm state
    bool lost = false;
    DWORD lastError = 0;
    DCB settings{};
    int readTimeoutMs = -1; // as last given to SetCommTimeouts

    void Fail(DWORD error) {
        lastError = error;
        if (DeviceGone(error))
            lost = true;
    }

    void ResetOverlapped() {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event;
    }

    // Read total constant ms (0: every byte waited for), write time-outs off.
    bool SetReadTimeout(int ms) {
        if (pipe || ms == readTimeoutMs)
            return true;
        COMMTIMEOUTS t{};
        if (!::GetCommTimeouts(handle, &t))
            t = COMMTIMEOUTS{};
        t.ReadIntervalTimeout = 0;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = static_cast<DWORD>(ms);
        t.WriteTotalTimeoutMultiplier = 0;
        t.WriteTotalTimeoutConstant = 0;
        if (!::SetCommTimeouts(handle, &t)) {
            Fail(::GetLastError());
            return false;
        }
        readTimeoutMs = ms;
        return true;
    }

    // Waits for the pending operation at most waitMs (INFINITE for no limit:
    // a comm read ends by its own time-out; a pipe has none), then cancels
    // it. True with the count on completion.
    bool Finish(DWORD waitMs, DWORD& count, bool& timedOut) {
        timedOut = false;
        if (::WaitForSingleObject(event, waitMs) == WAIT_TIMEOUT) {
            ::CancelIo(handle);
            timedOut = true;
        }
        // After a cancel this waits for the cancel to land; a byte that came
        // in meanwhile is still delivered.
        if (::GetOverlappedResult(handle, &overlapped, &count, TRUE))
            return true;
        const DWORD error = ::GetLastError();
        if (error == ERROR_OPERATION_ABORTED && timedOut)
            return false;
        // Wine ends a comm read whose time-out ran out with ERROR_TIMEOUT;
        // Windows reports success with no byte.
        if (error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT) {
            timedOut = true;
            count = 0;
            return true;
        }
        Fail(error);
        return false;
    }
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const std::string& device) {
    Close();
    Impl& s = *impl_;
    // Not shared with any process: a port in use by another program fails here.
    HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING, nullptr);
    // The simulated console's pipe is busy for a moment after the last
    // library let go of it, until the console listens again.
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_PIPE_BUSY &&
        ::WaitNamedPipeA(device.c_str(), kPipeBusyWaitMs))
        h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        s.lastError = ::GetLastError();
        return false;
    }
    HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!event) {
        s.lastError = ::GetLastError();
        ::CloseHandle(h);
        return false;
    }
    s.handle = h;
    s.event = event;
    s.pipe = ::GetFileType(h) == FILE_TYPE_PIPE;
    s.lost = false;
    s.readTimeoutMs = -1;
    s.ResetOverlapped();
    return true;
}

bool SerialPort::ReadSettings() {
    if (!IsOpen())
        return false;
    if (impl_->pipe)
        return true;
    impl_->settings = DCB{};
    impl_->settings.DCBlength = sizeof(DCB);
    if (!::GetCommState(impl_->handle, &impl_->settings)) {
        impl_->Fail(::GetLastError());
        return false;
    }
    return true;
}

bool SerialPort::Apply(const LineSettings& line) {
    if (!IsOpen())
        return false;
    if (impl_->pipe)
        return true;
    DCB d = impl_->settings;
    d.BaudRate = static_cast<DWORD>(line.baud);
    d.fBinary = TRUE;
    switch (line.parity) {
    case 'O':
        d.Parity = ODDPARITY;
        break;
    case 'E':
        d.Parity = EVENPARITY;
        break;
    case 'M':
        d.Parity = MARKPARITY;
        break;
    case 'S':
        d.Parity = SPACEPARITY;
        break;
    default:
        d.Parity = NOPARITY;
        break;
    }
    d.fParity = d.Parity != NOPARITY;
    d.ByteSize = static_cast<BYTE>(line.dataBits);
    d.StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    d.fOutxCtsFlow = line.cts ? TRUE : FALSE;
    d.fOutxDsrFlow = line.dsr ? TRUE : FALSE;
    if (!::SetCommState(impl_->handle, &d)) {
        impl_->Fail(::GetLastError());
        return false;
    }
    impl_->settings = d;
    return true;
}

bool SerialPort::SetQueueSizes(int bytes) {
    if (!IsOpen() || bytes <= 0)
        return false;
    if (impl_->pipe)
        return true;
    if (!::SetupComm(impl_->handle, static_cast<DWORD>(bytes), static_cast<DWORD>(bytes))) {
        impl_->Fail(::GetLastError());
        return false;
    }
    // Time-outs as the line starts with; every read sets its own afterwards.
    return impl_->SetReadTimeout(100);
}

void SerialPort::Purge() {
    if (!IsOpen())
        return;
    if (!impl_->pipe) {
        ::PurgeComm(impl_->handle, PURGE_TXCLEAR);
        ::PurgeComm(impl_->handle, PURGE_RXCLEAR);
        return;
    }
    // A pipe has no driver queue to clear: read away what waits.
    for (int n = BytesWaiting(); n > 0; n = BytesWaiting()) {
        std::uint8_t byte = 0;
        if (ReadByte(byte, 1) != ReadResult::Byte)
            break;
    }
}

void SerialPort::Close() {
    Impl& s = *impl_;
    if (s.handle == INVALID_HANDLE_VALUE)
        return;
    if (!s.lost && !s.pipe) {
        ::PurgeComm(s.handle, PURGE_TXCLEAR);
        ::PurgeComm(s.handle, PURGE_RXCLEAR);
    }
    ::CancelIo(s.handle);
    ::CloseHandle(s.handle);
    ::CloseHandle(s.event);
    s.handle = INVALID_HANDLE_VALUE;
    s.event = nullptr;
    s.lost = false;
    s.pipe = false;
}

bool SerialPort::IsOpen() const {
    return impl_->handle != INVALID_HANDLE_VALUE && !impl_->lost;
}

bool SerialPort::Lost() const {
    return impl_->lost;
}

int SerialPort::BytesWaiting() {
    if (!IsOpen())
        return -1;
    Impl& s = *impl_;
    if (s.pipe) {
        DWORD available = 0;
        if (!::PeekNamedPipe(s.handle, nullptr, 0, nullptr, &available, nullptr)) {
            s.Fail(::GetLastError());
            return -1;
        }
        return static_cast<int>(available);
    }
    DWORD errors = 0;
    COMSTAT status{};
    // Also clears a pending line error, which is never reported.
    if (!::ClearCommError(s.handle, &errors, &status)) {
        s.Fail(::GetLastError());
        return -1;
    }
    return static_cast<int>(status.cbInQue);
}

bool SerialPort::WaitForInput(int ms) {
    if (!IsOpen())
        return false;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(ms < 0 ? 0 : ms);
    for (;;) {
        const int n = BytesWaiting();
        if (n > 0)
            return true;
        if (n < 0 || ::GetTickCount64() >= deadline)
            return false;
        ::Sleep(1);
    }
}

SerialPort::ReadResult SerialPort::ReadByte(std::uint8_t& byte, int timeoutMs) {
    if (!IsOpen() || timeoutMs < 0)
        return ReadResult::Failed;
    Impl& s = *impl_;
    if (!s.SetReadTimeout(timeoutMs))
        return ReadResult::Failed;
    s.ResetOverlapped();
    DWORD count = 0;
    bool timedOut = false;
    if (!::ReadFile(s.handle, &byte, 1, &count, &s.overlapped)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            if (error == ERROR_TIMEOUT)
                return ReadResult::TimedOut;
            s.Fail(error);
            return ReadResult::Failed;
        }
        const DWORD waitMs = s.pipe && timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : INFINITE;
        if (!s.Finish(waitMs, count, timedOut))
            return timedOut ? ReadResult::TimedOut : ReadResult::Failed;
    } else {
        // Completed at once; the event was set all the same.
        ::WaitForSingleObject(s.event, 0);
    }
    if (count == 1)
        return ReadResult::Byte;
    return ReadResult::TimedOut;
}

bool SerialPort::Write(const std::uint8_t* bytes, int count, int& written) {
    written = 0;
    if (!IsOpen())
        return false;
    Impl& s = *impl_;
    s.ResetOverlapped();
    DWORD done = 0;
    if (!::WriteFile(s.handle, bytes, static_cast<DWORD>(count), &done, &s.overlapped)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            s.Fail(error);
            return false;
        }
        bool timedOut = false;
        // A write that makes no progress gives up with what went out.
        if (!s.Finish(kWriteWaitMs, done, timedOut)) {
            if (timedOut)
                return true; // the caller sees the short count
            return false;
        }
    } else {
        ::WaitForSingleObject(s.event, 0);
    }
    written = static_cast<int>(done);
    return true;
}

std::string SerialPort::LastErrorText() const {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, impl_->lastError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                     reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n > 0 && text ? std::string(text, n) : "error " + std::to_string(impl_->lastError);
    if (text)
        ::LocalFree(text);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return message;
}

} // namespace tsr
