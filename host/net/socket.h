#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A TCP socket of the loopback address, non-blocking, closed with its object.
// The operating system's sockets sit behind this class: socket_posix.cpp and
// socket_win32.cpp.
class Socket {
public:
    Socket() = default;
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Listens on 127.0.0.1:port (0: any free port); invalid with a reason
    // when the port cannot be had.
    static Socket Listen(int port, std::string& error);
    // Connects to 127.0.0.1:port and waits for the connection (blocking
    // connect, then non-blocking like every other socket).
    static Socket Connect(int port);
    // Two sockets joined to each other (a wake-up line for a poll loop).
    static bool Pair(Socket& first, Socket& second);

    bool Valid() const { return handle_ != kInvalid; }
    // The port a listening socket is bound to.
    int LocalPort() const;

    // A waiting connection of a listening socket (invalid when none waits,
    // and exhausted set when the system has no descriptor or memory left for
    // it); peer gets its address ("127.0.0.1").
    Socket Accept(std::string& peer, bool& exhausted) const;

    enum class Status { Done, WouldBlock, Closed, Failed };
    struct Transfer {
        Status status = Status::Failed;
        size_t bytes = 0;
    };
    // Closed: the peer ended its side (no byte came).
    Transfer Receive(char* buffer, size_t size);
    Transfer Send(const char* data, size_t size);
    // Waits until Send can take bytes again; false after timeoutMs or on an error.
    bool WaitWritable(int timeoutMs) const;

    // Ends the sending side: the peer reads the end after what was sent.
    void ShutdownSend();
    // Ends both sides; a thread blocked on this socket returns.
    void ShutdownBoth();
    void Close();

    // The operating system's handle, for Poll.
    intptr_t Handle() const { return handle_; }

    // Used only by the platform files.
    explicit Socket(intptr_t handle) : handle_(handle) {}
    static constexpr intptr_t kInvalid = -1;

private:
    intptr_t handle_ = kInvalid;
};

// What one socket is waited for, and what Poll found.
struct PollEntry {
    intptr_t handle = Socket::kInvalid;
    bool wantRead = false;
    bool wantWrite = false;
    bool readable = false; // also set on an error or hang-up: the next Receive tells which
    bool writable = false;
};

// Waits until one entry is ready or timeoutMs passes (-1: no limit); false on an error.
bool Poll(std::vector<PollEntry>& entries, int timeoutMs);

// Keeps the operating system's socket layer up while it lives (Winsock needs
// starting; POSIX keeps a write to a closed socket from ending the program).
class SocketLayer {
public:
    SocketLayer();
    ~SocketLayer();
    SocketLayer(const SocketLayer&) = delete;
    SocketLayer& operator=(const SocketLayer&) = delete;
    bool Ready() const { return ready_; }

private:
    bool ready_ = false;
};
