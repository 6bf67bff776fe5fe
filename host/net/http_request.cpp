#include "net/http_request.h"

#include <algorithm>
#include <cctype>

namespace {

// Characters of a method or header name.
bool TokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool Token(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), TokenChar);
}

// Visible characters and blanks: what a header value or target may hold.
bool FieldChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u == '\t' || (u >= 0x20 && u != 0x7f);
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Lines end with CRLF; a bare LF is taken too.
std::string_view Line(std::string_view text) {
    return !text.empty() && text.back() == '\r' ? text.substr(0, text.size() - 1) : text;
}

} // namespace

bool SameHeaderName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool PercentDecode(std::string_view text, bool plusIsBlank, std::string& decoded) {
    decoded.clear();
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size())
                return false;
            const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += plusIsBlank && text[i] == '+' ? ' ' : text[i];
        }
    }
    return true;
}

bool HttpRequest::HasHeader(std::string_view name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& header) { return SameHeaderName(header.first, name); });
}

std::string HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (SameHeaderName(key, name))
            return value;
    return std::string();
}

std::vector<std::string> HttpRequest::HeaderValues(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers)
        if (SameHeaderName(key, name))
            values.push_back(value);
    return values;
}

std::string HttpRequest::QueryValue(std::string_view name) const {
    std::string_view rest = query;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('&'), rest.size());
        const std::string_view pair = rest.substr(0, end);
        const size_t equals = std::min(pair.find('='), pair.size());
        std::string key, value;
        if (PercentDecode(pair.substr(0, equals), true, key) && key == name &&
            PercentDecode(equals < pair.size() ? pair.substr(equals + 1) : std::string_view(), true, value))
            return value;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return std::string();
}

bool HttpRequest::WantsKeepAlive() const {
    bool close = false, keep = false;
    for (const std::string& value : HeaderValues("Connection")) {
        std::string_view rest = value;
        while (!rest.empty()) {
            const size_t end = std::min(rest.find(','), rest.size());
            const std::string_view option = Trim(rest.substr(0, end));
            close = close || SameHeaderName(option, "close");
            keep = keep || SameHeaderName(option, "keep-alive");
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
    }
    return !close && (minorVersion > 0 || keep);
}

HeadReading ReadRequestHead(std::string_view received, size_t limit, size_t maxHeaders, size_t& searchFrom,
                            HttpRequest& request) {
    using Outcome = HeadReading::Outcome;
    // Empty lines before a request are allowed (a client's stray CRLF after a body).
    size_t start = 0;
    while (start < received.size() && (received[start] == '\r' || received[start] == '\n'))
        ++start;
    size_t end = std::string_view::npos;
    for (size_t at = std::max(searchFrom, start); at < received.size(); ++at) {
        if (received[at] != '\n')
            continue;
        if (at + 1 < received.size() && received[at + 1] == '\n') {
            end = at + 2;
            break;
        }
        if (at + 2 < received.size() && received[at + 1] == '\r' && received[at + 2] == '\n') {
            end = at + 3;
            break;
        }
    }
    // The next search starts where a blank line could still begin.
    searchFrom = received.size() > 2 ? received.size() - 2 : 0;
    if (end == std::string_view::npos && received.size() < limit)
        return {Outcome::Incomplete, 0};
    if (end == std::string_view::npos || end > limit) {
        const size_t lineEnd = received.find('\n', start);
        return {lineEnd < limit ? Outcome::HeadTooLarge : Outcome::TargetTooLong, 0};
    }

    std::string_view head = received.substr(start, end - start);
    const size_t lineEnd = head.find('\n');
    const std::string_view line = Line(head.substr(0, lineEnd));
    head.remove_prefix(lineEnd + 1);

    const size_t firstSpace = line.find(' ');
    const size_t secondSpace = firstSpace == std::string_view::npos ? firstSpace : line.find(' ', firstSpace + 1);
    if (secondSpace == std::string_view::npos || line.find(' ', secondSpace + 1) != std::string_view::npos)
        return {Outcome::Malformed, 0};
    const std::string_view method = line.substr(0, firstSpace);
    const std::string_view target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const std::string_view version = line.substr(secondSpace + 1);
    if (!Token(method) || target.empty() || target.front() != '/' ||
        !std::all_of(target.begin(), target.end(), [](char c) { return FieldChar(c) && c != ' ' && c != '\t'; }))
        return {Outcome::Malformed, 0};
    if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || !std::isdigit(static_cast<unsigned char>(version[5])) ||
        version[6] != '.' || !std::isdigit(static_cast<unsigned char>(version[7])))
        return {Outcome::Malformed, 0};
    if (version[5] != '1')
        return {Outcome::BadVersion, 0};

    HttpRequest parsed;
    parsed.method = method;
    parsed.target = target;
    parsed.minorVersion = version[7] - '0';
    const size_t question = target.find('?');
    if (!PercentDecode(target.substr(0, question), false, parsed.path))
        return {Outcome::Malformed, 0};
    if (question != std::string_view::npos)
        parsed.query = target.substr(question + 1);

    for (;;) {
        const size_t next = head.find('\n');
        const std::string_view field = Line(head.substr(0, next));
        head.remove_prefix(next + 1);
        if (field.empty())
            break;
        // A folded line (starting with a blank) is not taken.
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos || !Token(field.substr(0, colon)))
            return {Outcome::Malformed, 0};
        const std::string_view value = Trim(field.substr(colon + 1));
        if (!std::all_of(value.begin(), value.end(), FieldChar))
            return {Outcome::Malformed, 0};
        if (parsed.headers.size() >= maxHeaders)
            return {Outcome::HeadTooLarge, 0};
        parsed.headers.emplace_back(field.substr(0, colon), value);
    }
    parsed.peer = std::move(request.peer);
    request = std::move(parsed);
    return {Outcome::Complete, end};
}
