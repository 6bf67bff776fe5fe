#include "net/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

SOCKET Native(intptr_t handle) {
    return static_cast<SOCKET>(handle);
}

intptr_t FromNative(SOCKET socket) {
    return socket == INVALID_SOCKET ? Socket::kInvalid : static_cast<intptr_t>(socket);
}

bool Prepare(SOCKET socket) {
    u_long on = 1;
    return ::ioctlsocket(socket, FIONBIO, &on) == 0;
}

void NoDelay(SOCKET socket) {
    const BOOL on = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::string ErrorText(int code) {
    char* text = nullptr;
    const DWORD size = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = size > 0 && text ? std::string(text, size) : "error " + std::to_string(code);
    if (text)
        ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message;
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
    Socket listener(FromNative(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT)));
    if (!listener.Valid()) {
        error = "no socket: " + ErrorText(::WSAGetLastError());
        return Socket();
    }
    // Another program may not take the port over while it is ours.
    const BOOL on = TRUE;
    ::setsockopt(Native(listener.handle_), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                 sizeof on);
    const sockaddr_in address = Loopback(port);
    if (::bind(Native(listener.handle_), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(Native(listener.handle_), SOMAXCONN) != 0 || !Prepare(Native(listener.handle_))) {
        error = ErrorText(::WSAGetLastError());
        return Socket();
    }
    return listener;
}

Socket Socket::Connect(int port) {
    Socket connection(FromNative(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT)));
    if (!connection.Valid())
        return Socket();
    const sockaddr_in address = Loopback(port);
    if (::connect(Native(connection.handle_), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !Prepare(Native(connection.handle_)))
        return Socket();
    NoDelay(Native(connection.handle_));
    return connection;
}

// Winsock has no socket pair: a loopback connection to a listener of our own,
// checked to be our own connection by its port.
bool Socket::Pair(Socket& first, Socket& second) {
    std::string error;
    Socket listener = Listen(0, error);
    if (!listener.Valid())
        return false;
    first = Connect(listener.LocalPort());
    if (!first.Valid())
        return false;
    sockaddr_in mine{};
    int size = sizeof mine;
    if (::getsockname(Native(first.handle_), reinterpret_cast<sockaddr*>(&mine), &size) != 0)
        return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(Native(listener.handle_), &readable);
        timeval wait{1, 0};
        if (::select(0, &readable, nullptr, nullptr, &wait) != 1)
            return false;
        sockaddr_in peer{};
        int peerSize = sizeof peer;
        const SOCKET accepted = ::accept(Native(listener.handle_), reinterpret_cast<sockaddr*>(&peer), &peerSize);
        if (accepted == INVALID_SOCKET)
            continue;
        Socket candidate(FromNative(accepted));
        if (peer.sin_port == mine.sin_port && peer.sin_addr.s_addr == mine.sin_addr.s_addr) {
            second = std::move(candidate);
            return Prepare(accepted);
        }
    }
    return false;
}

int Socket::LocalPort() const {
    sockaddr_in address{};
    int size = sizeof address;
    if (::getsockname(Native(handle_), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

Socket Socket::Accept(std::string& peer, bool& exhausted) const {
    sockaddr_in address{};
    int size = sizeof address;
    const SOCKET accepted = ::accept(Native(handle_), reinterpret_cast<sockaddr*>(&address), &size);
    const int error = accepted == INVALID_SOCKET ? ::WSAGetLastError() : 0;
    exhausted = error == WSAEMFILE || error == WSAENOBUFS;
    if (accepted == INVALID_SOCKET)
        return Socket();
    Socket connection(FromNative(accepted));
    ::SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    if (!Prepare(accepted))
        return Socket();
    char text[INET_ADDRSTRLEN] = {};
    peer = address.sin_family == AF_INET && ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) ? text : "";
    NoDelay(accepted);
    return connection;
}

Socket::Transfer Socket::Receive(char* buffer, size_t size) {
    const int wanted = size > 1u << 30 ? 1 << 30 : static_cast<int>(size);
    const int got = ::recv(Native(handle_), buffer, wanted, 0);
    if (got > 0)
        return {Status::Done, static_cast<size_t>(got)};
    if (got == 0)
        return {Status::Closed, 0};
    return {::WSAGetLastError() == WSAEWOULDBLOCK ? Status::WouldBlock : Status::Failed, 0};
}

Socket::Transfer Socket::Send(const char* data, size_t size) {
    const int wanted = size > 1u << 30 ? 1 << 30 : static_cast<int>(size);
    const int sent = ::send(Native(handle_), data, wanted, 0);
    if (sent >= 0)
        return {Status::Done, static_cast<size_t>(sent)};
    return {::WSAGetLastError() == WSAEWOULDBLOCK ? Status::WouldBlock : Status::Failed, 0};
}

bool Socket::WaitWritable(int timeoutMs) const {
    WSAPOLLFD entry{Native(handle_), POLLWRNORM, 0};
    const int ready = ::WSAPoll(&entry, 1, timeoutMs);
    return ready == 1 && (entry.revents & POLLWRNORM) != 0 && (entry.revents & (POLLERR | POLLHUP)) == 0;
}

void Socket::ShutdownSend() {
    if (Valid())
        ::shutdown(Native(handle_), SD_SEND);
}

void Socket::ShutdownBoth() {
    if (Valid())
        ::shutdown(Native(handle_), SD_BOTH);
}

void Socket::Close() {
    if (Valid())
        ::closesocket(Native(handle_));
    handle_ = kInvalid;
}

bool Poll(std::vector<PollEntry>& entries, int timeoutMs) {
    std::vector<WSAPOLLFD> fds(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        fds[i].fd = Native(entries[i].handle);
        fds[i].events = static_cast<SHORT>((entries[i].wantRead ? POLLRDNORM : 0) | (entries[i].wantWrite ? POLLWRNORM : 0));
    }
    const int ready = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
    if (ready == SOCKET_ERROR)
        return false;
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool trouble = (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        entries[i].readable = (fds[i].revents & POLLRDNORM) != 0 || (trouble && entries[i].wantRead);
        entries[i].writable = (fds[i].revents & POLLWRNORM) != 0 || (trouble && entries[i].wantWrite);
    }
    return true;
}

SocketLayer::SocketLayer() {
    WSADATA data;
    ready_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketLayer::~SocketLayer() {
    if (ready_)
        ::WSACleanup();
}
