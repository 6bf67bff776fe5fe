#include "support/test_platform.h"

#include "platform/win32_api.h"

#include <cstdlib>

namespace tsr::test {

void SetEnvironment(const std::string& name, const std::string& value, bool replace) {
    if (!replace && std::getenv(name.c_str()))
        return;
    _putenv_s(name.c_str(), value.c_str());
}

void KeepOffRealPorts() {
    SetEnvironment("TESSARO_SERIAL_DIR", "\\\\.\\pipe\\tessaro-no-ports", false);
}

bool MakeFifo(const std::string&) {
    return false; // Windows keeps its pipes out of folders
}

bool PermissionsIgnored() {
    return false;
}

// Read rights come from access lists here, not from a bit to flip; the
// callers skip what needs it.
bool SetReadable(const std::string&, bool) {
    return false;
}

struct HeldForWriting::Impl {
    HANDLE file = INVALID_HANDLE_VALUE;
};

HeldForWriting::HeldForWriting(const std::string& path, const std::string& content) : impl_(std::make_unique<Impl>()) {
    impl_->file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (impl_->file != INVALID_HANDLE_VALUE &&
        (!::WriteFile(impl_->file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
         written != content.size())) {
        ::CloseHandle(impl_->file);
        impl_->file = INVALID_HANDLE_VALUE;
    }
}

HeldForWriting::~HeldForWriting() {
    if (impl_->file != INVALID_HANDLE_VALUE)
        ::CloseHandle(impl_->file);
}

bool HeldForWriting::ok() const {
    return impl_->file != INVALID_HANDLE_VALUE;
}

} // namespace tsr::test
