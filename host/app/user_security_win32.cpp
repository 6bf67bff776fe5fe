#include "app/user_security_win32.h"

#include <sddl.h>

#include <vector>

namespace {

std::wstring SidOfToken(HANDLE token) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        return std::wstring();
    std::vector<unsigned char> buffer(size);
    if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return std::wstring();
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return std::wstring();
    std::wstring sid(text);
    ::LocalFree(text);
    return sid;
}

} // namespace

std::wstring CurrentUserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return std::wstring();
    WinHandle owned(token);
    return SidOfToken(token);
}

std::wstring ProcessUserSid(DWORD processId) {
    WinHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    HANDLE token = nullptr;
    if (!process.ok() || !::OpenProcessToken(process.get(), TOKEN_QUERY, &token))
        return std::wstring();
    WinHandle owned(token);
    return SidOfToken(token);
}

UserOnlySecurity::UserOnlySecurity(Kind kind) {
    const std::wstring sid = CurrentUserSid();
    if (sid.empty())
        return;
    // P: the parent's entries are not inherited; OICI: files and folders inside get the same.
    const std::wstring sddl = std::wstring(L"D:P(A;") + (kind == Kind::Folder ? L"OICI" : L"") + L";GA;;;" + sid + L")(A;" + (kind == Kind::Folder ? L"OICI" : L"") + L";GA;;;SY)";
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor_, nullptr))
        descriptor_ = nullptr;
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
}

UserOnlySecurity::~UserOnlySecurity() {
    if (descriptor_ != nullptr)
        ::LocalFree(descriptor_);
}

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Utf8FromWide(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                              nullptr);
    return narrow;
}

std::string SystemErrorText(DWORD error) {
    wchar_t* message = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    std::wstring text = length > 0 && message != nullptr ? std::wstring(message, length) : std::wstring();
    if (message != nullptr)
        ::LocalFree(message);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.' || text.back() == L' '))
        text.pop_back();
    return (text.empty() ? std::string("system error") : Utf8FromWide(text)) + " (error " + std::to_string(error) + ")";
}
