#include "net/http_response.h"

#include "net/http_request.h"

namespace {

// 1xx, 204 and 304 answers carry no body.
bool WithoutBody(int status) {
    return status < 200 || status == 204 || status == 304;
}

} // namespace

void HttpResponse::SetHeader(std::string name, std::string value) {
    for (auto& header : headers) {
        if (SameHeaderName(header.first, name)) {
            header.second = std::move(value);
            return;
        }
    }
    headers.emplace_back(std::move(name), std::move(value));
}

void HttpResponse::SetContent(std::string content, std::string contentType) {
    body = std::move(content);
    SetHeader("Content-Type", std::move(contentType));
}

HttpResponse HttpResponse::Status(int status, bool close) {
    HttpResponse response;
    response.status = status;
    response.close = close;
    if (!WithoutBody(status))
        response.SetContent(std::string(StatusText(status)) + "\n", "text/plain; charset=utf-8");
    return response;
}

const char* StatusText(int status) {
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return status < 400 ? "OK" : status < 500 ? "Bad Request" : "Internal Server Error";
    }
}

std::string ResponseHead(const HttpResponse& response, bool keepAlive) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + StatusText(response.status) + "\r\n";
    for (const auto& [name, value] : response.headers) {
        // The framing is the server's own.
        if (SameHeaderName(name, "Content-Length") || SameHeaderName(name, "Transfer-Encoding") || SameHeaderName(name, "Connection"))
            continue;
        head += name + ": " + value + "\r\n";
    }
    if (response.stream)
        head += "Transfer-Encoding: chunked\r\n";
    else if (!WithoutBody(response.status))
        head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    return head;
}
