#include "net/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int Fd(intptr_t handle) {
    return static_cast<int>(handle);
}

bool Prepare(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

void NoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool Again() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

} // namespace

Socket::~Socket() {
    Close();
}

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_) {
    other.handle_ = kInvalid;
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = kInvalid;
    }
    return *this;
}

Socket Socket::Listen(int port, std::string& error) {
    Socket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener.Valid()) {
        error = std::string("no socket: ") + std::strerror(errno);
        return Socket();
    }
    const int on = 1;
    ::setsockopt(Fd(listener.handle_), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = Loopback(port);
    if (::bind(Fd(listener.handle_), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(Fd(listener.handle_), SOMAXCONN) != 0 || !Prepare(Fd(listener.handle_))) {
        error = std::strerror(errno);
        return Socket();
    }
    return listener;
}

Socket Socket::Connect(int port) {
    Socket connection(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!connection.Valid())
        return Socket();
    const sockaddr_in address = Loopback(port);
    if (::connect(Fd(connection.handle_), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !Prepare(Fd(connection.handle_)))
        return Socket();
    NoDelay(Fd(connection.handle_));
    return connection;
}

bool Socket::Pair(Socket& first, Socket& second) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    first = Socket(fds[0]);
    second = Socket(fds[1]);
    return Prepare(fds[0]) && Prepare(fds[1]);
}

int Socket::LocalPort() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (::getsockname(Fd(handle_), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

Socket Socket::Accept(std::string& peer, bool& exhausted) const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    const int fd = ::accept4(Fd(handle_), reinterpret_cast<sockaddr*>(&address), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    exhausted = fd < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM);
    if (fd < 0)
        return Socket();
    char text[INET_ADDRSTRLEN] = {};
    peer = address.sin_family == AF_INET && ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) ? text : "";
    NoDelay(fd);
    return Socket(fd);
}

Socket::Transfer Socket::Receive(char* buffer, size_t size) {
    for (;;) {
        const ssize_t got = ::recv(Fd(handle_), buffer, size, 0);
        if (got > 0)
            return {Status::Done, static_cast<size_t>(got)};
        if (got == 0)
            return {Status::Closed, 0};
        if (errno == EINTR)
            continue;
        return {Again() ? Status::WouldBlock : Status::Failed, 0};
    }
}

Socket::Transfer Socket::Send(const char* data, size_t size) {
    for (;;) {
        const ssize_t sent = ::send(Fd(handle_), data, size, MSG_NOSIGNAL);
        if (sent >= 0)
            return {Status::Done, static_cast<size_t>(sent)};
        if (errno == EINTR)
            continue;
        return {Again() ? Status::WouldBlock : Status::Failed, 0};
    }
}

bool Socket::WaitWritable(int timeoutMs) const {
    pollfd entry{Fd(handle_), POLLOUT, 0};
    int ready;
    do
        ready = ::poll(&entry, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready == 1 && (entry.revents & POLLOUT) != 0 && (entry.revents & (POLLERR | POLLHUP)) == 0;
}

void Socket::ShutdownSend() {
    if (Valid())
        ::shutdown(Fd(handle_), SHUT_WR);
}

void Socket::ShutdownBoth() {
    if (Valid())
        ::shutdown(Fd(handle_), SHUT_RDWR);
}

void Socket::Close() {
    if (Valid())
        ::close(Fd(handle_));
    handle_ = kInvalid;
}

bool Poll(std::vector<PollEntry>& entries, int timeoutMs) {
    std::vector<pollfd> fds(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        fds[i].fd = Fd(entries[i].handle);
        fds[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) | (entries[i].wantWrite ? POLLOUT : 0));
    }
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready < 0)
        return errno == EINTR;
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool trouble = (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        entries[i].readable = (fds[i].revents & POLLIN) != 0 || (trouble && entries[i].wantRead);
        entries[i].writable = (fds[i].revents & POLLOUT) != 0 || (trouble && entries[i].wantWrite);
    }
    return true;
}

SocketLayer::SocketLayer() : ready_(true) {}
SocketLayer::~SocketLayer() = default;
