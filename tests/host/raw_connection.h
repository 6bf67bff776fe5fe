#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/socket.h"

// A client connection that writes and reads raw bytes, as another local user
// with a program of their own would.
class RawConnection {
public:
    explicit RawConnection(int port) : socket_(Socket::Connect(port)) {}

    bool Open() const { return socket_.Valid(); }

    // Writes all of data, waiting while the server does not take it; false
    // once the connection is closed (or stalls for timeoutMs).
    bool Send(const std::string& data, int timeoutMs = 5000) {
        size_t sent = 0;
        while (sent < data.size()) {
            const auto put = socket_.Send(data.data() + sent, data.size() - sent);
            if (put.status == Socket::Status::Done) {
                sent += put.bytes;
                sentTotal += put.bytes;
            } else if (put.status != Socket::Status::WouldBlock || !socket_.WaitWritable(timeoutMs)) {
                return false;
            }
        }
        return true;
    }

    // Takes what has arrived without waiting; false once the server closed
    // the connection (what came before is in received).
    bool ReadWaiting() {
        char buffer[16 * 1024];
        for (;;) {
            const auto got = socket_.Receive(buffer, sizeof buffer);
            if (got.status == Socket::Status::Done)
                received.append(buffer, got.bytes);
            else
                return got.status == Socket::Status::WouldBlock;
        }
    }

    // Reads until the server closes the connection or timeout passes; true when it closed.
    bool ReadUntilClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            std::vector<PollEntry> entries{{socket_.Handle(), true, false}};
            Poll(entries, 50);
            if (!ReadWaiting())
                return true;
        }
        return false;
    }

    // Reads until received holds text or the server closes or timeout passes.
    bool ReadUntil(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (received.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
            std::vector<PollEntry> entries{{socket_.Handle(), true, false}};
            Poll(entries, 50);
            if (!ReadWaiting())
                break;
        }
        return received.find(text) != std::string::npos;
    }

    // How many answers arrived: status lines at the start of an answer.
    size_t Answers() const {
        size_t count = 0;
        for (size_t at = received.find("HTTP/1.1 "); at != std::string::npos; at = received.find("HTTP/1.1 ", at + 1))
            ++count;
        return count;
    }

    std::string received;
    size_t sentTotal = 0;

private:
    Socket socket_;
};
