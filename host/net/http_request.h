#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One request as the page server read it.
struct HttpRequest {
    std::string method;
    std::string target; // as sent: path and query
    std::string path;   // decoded, without the query
    std::string query;  // as sent, after '?'
    int minorVersion = 1; // HTTP/1.x
    std::vector<std::pair<std::string, std::string>> headers; // in their order, names as sent
    std::string body;
    std::string peer; // the client's address

    // Header names compare without case; the first of several is Header's.
    bool HasHeader(std::string_view name) const;
    std::string Header(std::string_view name) const;
    std::vector<std::string> HeaderValues(std::string_view name) const;
    // A decoded query parameter ("" when there is none).
    std::string QueryValue(std::string_view name) const;
    // What the client asked for the connection after this request.
    bool WantsKeepAlive() const;
};

// Reads a request head (request line, header lines, blank line) from the start
// of what a connection received; the head may not exceed limit bytes.
struct HeadReading {
    enum class Outcome {
        Incomplete,   // no blank line yet, and within the limit
        Complete,     // request holds the head; size is its length
        Malformed,    // 400
        TargetTooLong, // 414: the request line alone exceeds the limit
        HeadTooLarge, // 431: the header lines exceed it
        BadVersion,   // 505
    };
    Outcome outcome = Outcome::Incomplete;
    size_t size = 0;
};
// searchFrom: how far an earlier call on the same bytes looked (the blank
// line is searched only in what is new).
HeadReading ReadRequestHead(std::string_view received, size_t limit, size_t maxHeaders, size_t& searchFrom,
                            HttpRequest& request);

// Header names (and tokens such as "close") compare without case.
bool SameHeaderName(std::string_view a, std::string_view b);

// Decodes %XX escapes (and '+' as a blank when plusIsBlank); false on a broken escape.
bool PercentDecode(std::string_view text, bool plusIsBlank, std::string& decoded);
