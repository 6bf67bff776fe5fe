// On Windows the library speaks the ANSI code page: UTF-8 goes over UTF-16
// into it and back. A character the code page lacks becomes the code page's
// default character ("?").
#include "app/library_text.h"
#include "app/user_security_win32.h"

std::string ToLibraryText(const std::string& text) {
    const std::wstring wide = WideFromUtf8(text);
    if (wide.empty())
        return std::string();
    const int length =
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), length, nullptr,
                              nullptr);
    return narrow;
}

std::string FromLibraryText(const char* text) {
    if (text == nullptr || text[0] == '\0')
        return std::string();
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1)
        return std::string();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1)); // without the terminating zero
    return Utf8FromWide(wide);
}
