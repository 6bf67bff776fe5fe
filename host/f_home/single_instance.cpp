#include "f_home/single_instance.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char kFrontRequest = 'F';

// The identity can be longer than a socket name may be, so the name carries its hash.
sockaddr_un SocketAddress(const std::string& identity, socklen_t& length) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : identity) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[64];
    const int n =
        std::snprintf(name, sizeof name, "tessaro-instance-%016llx", static_cast<unsigned long long>(hash));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract name (leading zero byte): it vanishes with the process that holds it.
    std::memcpy(address.sun_path + 1, name, static_cast<size_t>(n));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(n));
    return address;
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

std::string SingleInstance::Identity(const std::filesystem::path& programFile) {
    std::string identity = programFile.string();
    for (char& c : identity) {
        if (c == '/' || c == '\\')
            c = '_';
        else
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return identity;
}

SingleInstance::SingleInstance(std::string identity) : identity_(std::move(identity)) {}

SingleInstance::~SingleInstance() {
    StopListening();
    CloseFd(socket_);
}

bool SingleInstance::Acquire() {
    socklen_t length = 0;
    const sockaddr_un address = SocketAddress(identity_, length);
    socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        return true; // no way to tell; run rather than refuse
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        ::listen(socket_, 8);
        return true;
    }
    CloseFd(socket_);
    const int peer = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (peer >= 0) {
        if (::connect(peer, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            const char request = kFrontRequest;
            if (::write(peer, &request, 1) == 1) {
                char ack = 0;
                pollfd wait{peer, POLLIN, 0};
                if (::poll(&wait, 1, 2000) > 0)
                    (void)::read(peer, &ack, 1);
            }
        }
        ::close(peer);
    }
    return false;
}

void SingleInstance::Listen(std::function<void()> onFront) {
    if (socket_ < 0 || listener_.joinable() || ::pipe2(stopPipe_, O_CLOEXEC) != 0)
        return;
    listener_ = std::thread([this, onFront = std::move(onFront)] {
        for (;;) {
            pollfd fds[2] = {{socket_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents != 0)
                return;
            if ((fds[0].revents & POLLIN) == 0)
                continue;
            const int peer = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                continue;
            char request = 0;
            pollfd wait{peer, POLLIN, 0};
            if (::poll(&wait, 1, 1000) > 0 && ::read(peer, &request, 1) == 1 && request == kFrontRequest) {
                onFront();
                (void)::write(peer, &request, 1);
            }
            ::close(peer);
        }
    });
}

void SingleInstance::StopListening() {
    if (listener_.joinable()) {
        const char stop = 0;
        (void)::write(stopPipe_[1], &stop, 1);
        listener_.join();
    }
    CloseFd(stopPipe_[0]);
    CloseFd(stopPipe_[1]);
}
