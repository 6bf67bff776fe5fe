#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "net/http_request.h"
#include "net/http_response.h"

// An HTTP/1.1 server on 127.0.0.1 for the page and nobody else.
//
// Another local user can reach the port. One thread waits on every
// connection and reads request heads without blocking, so an idle or slow
// connection holds no thread and what it sends is bounded while it is read:
// the head, the body, the time each may take, and the number of connections
// that have not yet shown a request that was let in. Only complete requests
// reach the few workers; an answer is written by the same thread, and a
// stream answer on a thread of its own. A request that is refused ends its
// connection, so whatever it still sends is never read as a request.
class HttpServer {
public:
    struct Limits {
        size_t headBytes = 8 * 1024;          // request line and header lines
        size_t headerLines = 100;
        size_t bodyBytes = 16u << 20;          // Content-Length bodies; chunked request bodies are refused
        std::chrono::milliseconds headTime{10000};  // from a connection's first byte to the end of its head
        std::chrono::milliseconds firstByteTime{10000}; // a new connection that sends nothing
        std::chrono::milliseconds keepAliveTime{5000};  // an idle connection between requests
        std::chrono::milliseconds bodyTime{30000};  // from the end of the head to the end of the body
        std::chrono::milliseconds sendStall{10000}; // an answer the client does not take
        size_t waitingConnections = 64; // not yet let in: the oldest is dropped for a new one
        size_t keptConnections = 32;    // let in and idle between requests: the oldest idle is closed
        size_t workers = 4;
        size_t streams = 4;
    };

    // Runs on the server's thread with the request head (no body yet): an
    // answer refuses the request, which ends its connection; none lets it in.
    // It must be quick and must not block.
    using Admit = std::function<std::optional<HttpResponse>(const HttpRequest& head)>;
    // Runs on a worker with the whole request.
    using Handle = std::function<HttpResponse(const HttpRequest& request)>;

    HttpServer(Admit admit, Handle handle);
    HttpServer(Admit admit, Handle handle, Limits limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds 127.0.0.1:port (0: any free port) and starts serving; false with
    // a reason when the port cannot be had.
    bool Start(int port, std::string& error);
    int Port() const;
    // Ends every connection and thread; a handler still running is waited for.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
