// The instance lock on Windows: a named mutex and a named pipe in the
// session's Local\ namespace, both named after the user's SID and the
// identity, both with access for the user alone; the pipe takes no remote
// clients, and each side checks that the other runs as the same user.
#include "f_home/single_instance.h"
#include "app/user_security_win32.h"

#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr char kAsk = 'F';
constexpr char kAnswer = 'A';
constexpr char kEnding = 'E';
// How long a start waits for an instance that is ending (its press tasks may
// take a unit's full completion time) before it says why it cannot start.
constexpr auto kEndingWait = std::chrono::seconds(120);
constexpr auto kWaitingNotice = std::chrono::seconds(1);
constexpr DWORD kAnswerWaitMs = 5000;
constexpr DWORD kRequestWaitMs = 1000;

// One overlapped read or write on handle that ends within waitMs; the number
// of bytes moved, 0 on failure or time-out (the operation is cancelled).
DWORD Transfer(HANDLE handle, bool write, void* buffer, DWORD size, DWORD waitMs) {
    WinHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done.ok())
        return 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = done.get();
    DWORD moved = 0;
    const BOOL finished = write ? ::WriteFile(handle, buffer, size, &moved, &overlapped)
                                : ::ReadFile(handle, buffer, size, &moved, &overlapped);
    if (finished)
        return moved;
    if (::GetLastError() != ERROR_IO_PENDING)
        return 0;
    if (::WaitForSingleObject(done.get(), waitMs) != WAIT_OBJECT_0) {
        ::CancelIo(handle);
        ::GetOverlappedResult(handle, &overlapped, &moved, TRUE);
        return 0;
    }
    return ::GetOverlappedResult(handle, &overlapped, &moved, FALSE) ? moved : 0;
}

// The owner of a kernel object is who made it: the user, or the
// Administrators group for an elevated administrator.
bool OwnedByUs(HANDLE object, const std::wstring& userSid) {
    const std::wstring ownerSid = CurrentOwnerSid();
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS)
        return false;
    bool same = false;
    LPWSTR text = nullptr;
    if (owner != nullptr && ::ConvertSidToStringSidW(owner, &text)) {
        same = userSid == text || ownerSid == text;
        ::LocalFree(text);
    }
    ::LocalFree(descriptor);
    return same;
}

} // namespace

struct SingleInstance::Impl {
    std::wstring userSid;
    std::wstring pipeName;
    WinHandle mutex;
    bool owned = false;
    WinHandle pipe;
    WinHandle stop{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread thread;
    std::atomic<bool> ending{false};

    // Asks the running instance; its answer (after the kind byte), nothing when
    // it did not answer as an instance of this user.
    bool Ask(std::string& answer) const;
};

bool SingleInstance::Impl::Ask(std::string& answer) const {
    WinHandle peer(::CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!peer.ok()) {
        if (::GetLastError() == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(pipeName.c_str(), 500);
        return false;
    }
    ULONG server = 0;
    if (!::GetNamedPipeServerProcessId(peer.get(), &server) || ProcessUserSid(server) != userSid)
        return false;
    // The instance may bring its window before ours: this start came from the operator.
    ::AllowSetForegroundWindow(server);
    char ask = kAsk;
    if (Transfer(peer.get(), true, &ask, 1, kAnswerWaitMs) != 1)
        return false;
    std::string text;
    for (;;) {
        char buffer[512];
        const DWORD n = Transfer(peer.get(), false, buffer, sizeof buffer, kAnswerWaitMs);
        if (n == 0 || text.size() > 4096)
            break;
        text.append(buffer, n);
    }
    if (text.empty() || text[0] != kAnswer)
        return false;
    answer = text.substr(1);
    return true;
}

SingleInstance::SingleInstance(std::string identity) : identity_(std::move(identity)), impl_(std::make_unique<Impl>()) {}

SingleInstance::~SingleInstance() {
    StopListening();
    if (impl_->owned)
        ::ReleaseMutex(impl_->mutex.get());
}

SingleInstance::Outcome SingleInstance::Acquire(const std::function<void()>& onWaiting) {
    Impl& impl = *impl_;
    impl.userSid = CurrentUserSid();
    if (impl.userSid.empty())
        return {Outcome::Failed, "cannot check for a running instance: " + SystemErrorText(::GetLastError())};
    // Local\: this session's namespace; the SID in the name keeps users apart
    // also where they share a session.
    const std::wstring stem = L"Tessaro-" + impl.userSid + L"-" + WideFromUtf8(IdentityHash());
    const std::string shownName = "Local\\" + Utf8FromWide(stem);
    impl.pipeName = L"\\\\.\\pipe\\" + stem; // pipes have no session namespace: the checks keep users apart
    UserOnlySecurity security;
    if (security.get() == nullptr)
        return {Outcome::Failed, "cannot check for a running instance: " + SystemErrorText(::GetLastError())};
    impl.mutex.Reset(::CreateMutexW(security.get(), FALSE, (L"Local\\" + stem).c_str()));
    if (!impl.mutex.ok())
        return {Outcome::Failed, "cannot check for a running instance: " + shownName + ": " +
                                     SystemErrorText(::GetLastError())};
    if (!OwnedByUs(impl.mutex.get(), impl.userSid))
        return {Outcome::Failed, "cannot check for a running instance: " + shownName + " belongs to another user"};

    const auto started = std::chrono::steady_clock::now();
    const auto giveUp = started + kEndingWait;
    bool toldWaiting = false;
    while (std::chrono::steady_clock::now() < giveUp) {
        const DWORD waited = ::WaitForSingleObject(impl.mutex.get(), 0);
        // Abandoned: the instance before was ended without letting go.
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
            impl.owned = true;
            // The first instance of the name: nobody else can serve it while we hold it.
            impl.pipe.Reset(::CreateNamedPipeW(
                impl.pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096, 0,
                security.get()));
            if (!impl.pipe.ok())
                return {Outcome::Failed, "cannot serve as the instance: " + Utf8FromWide(impl.pipeName) + ": " +
                                             SystemErrorText(::GetLastError())};
            return {Outcome::Acquired, std::string()};
        }
        std::string answer;
        if (impl.Ask(answer))
            return {Outcome::Answered, answer};
        // Ending, or between taking the mutex and listening: look again shortly.
        // A start racing this one is past that within a moment; longer is an
        // instance finishing its press tasks.
        if (!toldWaiting && onWaiting && std::chrono::steady_clock::now() - started >= kWaitingNotice) {
            toldWaiting = true;
            onWaiting();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return {Outcome::Failed, "an instance holds " + shownName + " but neither answers nor ends"};
}

void SingleInstance::Listen(std::function<std::string()> answer) {
    Impl& impl = *impl_;
    if (!impl.pipe.ok() || !impl.stop.ok() || impl.thread.joinable())
        return;
    impl.thread = std::thread([&impl, answer = std::move(answer)] {
        WinHandle connected(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        for (;;) {
            OVERLAPPED overlapped{};
            ::ResetEvent(connected.get());
            overlapped.hEvent = connected.get();
            bool ready = false;
            if (::ConnectNamedPipe(impl.pipe.get(), &overlapped)) {
                ready = true;
            } else if (::GetLastError() == ERROR_PIPE_CONNECTED) {
                ready = true;
            } else if (::GetLastError() == ERROR_IO_PENDING) {
                const HANDLE waits[2] = {connected.get(), impl.stop.get()};
                const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
                if (woke != WAIT_OBJECT_0) {
                    ::CancelIo(impl.pipe.get());
                    DWORD ignored = 0;
                    ::GetOverlappedResult(impl.pipe.get(), &overlapped, &ignored, TRUE);
                    return;
                }
                DWORD ignored = 0;
                ready = ::GetOverlappedResult(impl.pipe.get(), &overlapped, &ignored, FALSE) != 0;
            } else if (::WaitForSingleObject(impl.stop.get(), 200) == WAIT_OBJECT_0) {
                return;
            }
            if (ready) {
                ULONG client = 0;
                char request = 0;
                if (::GetNamedPipeClientProcessId(impl.pipe.get(), &client) &&
                    ProcessUserSid(client) == impl.userSid &&
                    Transfer(impl.pipe.get(), false, &request, 1, kRequestWaitMs) == 1 && request == kAsk) {
                    std::string reply = impl.ending ? std::string() : kAnswer + answer();
                    if (impl.ending) // before the answer, or the answer found this instance ending
                        reply = std::string(1, kEnding);
                    Transfer(impl.pipe.get(), true, reply.data(), static_cast<DWORD>(reply.size()), kRequestWaitMs);
                    ::FlushFileBuffers(impl.pipe.get());
                }
            }
            ::DisconnectNamedPipe(impl.pipe.get());
            if (::WaitForSingleObject(impl.stop.get(), 0) == WAIT_OBJECT_0)
                return;
        }
    });
}

void SingleInstance::SetEnding() {
    impl_->ending = true;
}

void SingleInstance::StopListening() {
    Impl& impl = *impl_;
    if (impl.thread.joinable()) {
        ::SetEvent(impl.stop.get());
        impl.thread.join();
    }
}
