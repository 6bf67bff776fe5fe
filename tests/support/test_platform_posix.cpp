#include "support/test_platform.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tsr::test {

void SetEnvironment(const std::string& name, const std::string& value, bool replace) {
    ::setenv(name.c_str(), value.c_str(), replace ? 1 : 0);
}

void KeepOffRealPorts() {
    SetEnvironment("TESSARO_SERIAL_DIR", "/nonexistent/tessaro-no-ports", false);
}

bool MakeFifo(const std::string& path) {
    return ::mkfifo(path.c_str(), 0644) == 0;
}

bool PermissionsIgnored() {
    return ::geteuid() == 0;
}

bool SetReadable(const std::string& path, bool readable) {
    return ::chmod(path.c_str(), readable ? 0600 : 0200) == 0;
}

struct HeldForWriting::Impl {
    int fd = -1;
};

HeldForWriting::HeldForWriting(const std::string& path, const std::string& content) : impl_(std::make_unique<Impl>()) {
    impl_->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (impl_->fd >= 0 && ::write(impl_->fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
        ::close(impl_->fd);
        impl_->fd = -1;
    }
}

HeldForWriting::~HeldForWriting() {
    if (impl_->fd >= 0)
        ::close(impl_->fd);
}

bool HeldForWriting::ok() const {
    return impl_->fd >= 0;
}

} // namespace tsr::test
