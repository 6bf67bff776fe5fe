#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One answer of the page server.
struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The connection ends after this answer.
    bool close = false;
    // An endless body, sent in chunks on a thread of its own: each call waits
    // for the next piece and gives it; false ends the response. It must
    // return soon once its owner stops the server.
    std::function<bool(std::string& piece)> stream;
    // Runs once the stream has ended (also when the client went away).
    std::function<void()> streamEnded;

    void SetHeader(std::string name, std::string value);
    void SetContent(std::string content, std::string contentType);

    static HttpResponse Status(int status, bool close = false);
};

const char* StatusText(int status);

// The status line and header lines of an answer, with Content-Length (or
// chunked framing for a stream) and Connection.
std::string ResponseHead(const HttpResponse& response, bool keepAlive);
