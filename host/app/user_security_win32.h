#pragma once
// What the host's Windows files need to keep things to the current user: the
// press PC is shared, and another user must not read the host's files nor
// take or reach its instance.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

// Owns a HANDLE that is closed at the end (null and INVALID_HANDLE_VALUE hold nothing).
class WinHandle {
public:
    explicit WinHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~WinHandle() { Reset(); }
    WinHandle(const WinHandle&) = delete;
    WinHandle& operator=(const WinHandle&) = delete;
    void Reset(HANDLE handle = nullptr) {
        if (ok())
            ::CloseHandle(handle_);
        handle_ = handle;
    }
    HANDLE get() const { return handle_; }
    bool ok() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// The current user's SID as text ("S-1-5-21-..."); empty when the system
// cannot say.
std::wstring CurrentUserSid();
// The SID of the user a process runs as; empty when it cannot be read.
std::wstring ProcessUserSid(DWORD processId);

// Security attributes that give the current user alone full access (and the
// system account, for backups; not
// inherited from the parent); for a folder its files and folders inherit it.
class UserOnlySecurity {
public:
    enum class Kind { Object, Folder };
    explicit UserOnlySecurity(Kind kind = Kind::Object);
    ~UserOnlySecurity();
    UserOnlySecurity(const UserOnlySecurity&) = delete;
    UserOnlySecurity& operator=(const UserOnlySecurity&) = delete;

    // Null when no descriptor could be made (the caller decides whether that is fatal).
    SECURITY_ATTRIBUTES* get() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

// UTF-16 from UTF-8 and back.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

// "text (error n)" with the system's message for the error code.
std::string SystemErrorText(DWORD error);
