#include "exchange/open_for_writing.h"

#include "platform/win32_api.h"

namespace tsr {

// Opening for reading while sharing only reading fails with a sharing
// violation exactly while some process holds the file open for writing (or
// holds it without letting others read, as a producer writing it does).
bool HeldOpenForWriting(const std::string& path) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        return false;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

} // namespace tsr
