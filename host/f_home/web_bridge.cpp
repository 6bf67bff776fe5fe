#include "f_home/web_bridge.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <optional>
#include <deque>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "f_home/bridge_request.h"
#include "f_home/bridge_script.h"
#include "app/folder_browser.h"
#include "f_home/page_files.h"
#include "net/http_server.h"

namespace {

using nlohmann::json;

constexpr const char* kBridgePath = "~host/";
constexpr auto kStreamPing = std::chrono::seconds(5);

std::string NewSecret(int length = 32) {
    std::random_device random;
    static const char digits[] = "0123456789abcdef";
    std::string secret;
    for (int i = 0; i < length; ++i)
        secret += digits[random() & 15u];
    return secret;
}

constexpr const char* kCookieName = "tsr_session";
// What the page may have waiting for it before its stream opens; a page that
// never opens its stream cannot make the host hold more.
constexpr size_t kQueuedBytesLimit = 32u << 20;

// The value of one cookie in a Cookie header; empty when it is not there.
std::string CookieValue(const std::string& header, const std::string& name) {
    size_t at = 0;
    while (at < header.size()) {
        const size_t end = std::min(header.find(';', at), header.size());
        size_t begin = at;
        while (begin < end && header[begin] == ' ')
            ++begin;
        const std::string pair = header.substr(begin, end - begin);
        const size_t equals = pair.find('=');
        if (equals != std::string::npos && pair.substr(0, equals) == name)
            return pair.substr(equals + 1);
        at = end + 1;
    }
    return std::string();
}

bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

// Texts from the library may not be valid UTF-8; they must not break a reply.
std::string Dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool ReadFile(const std::filesystem::path& file, std::string& content) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return true;
}

} // namespace

struct WebBridge::Impl {
    Impl(UiLoop& loop, Options opts) : ui(loop), options(std::move(opts)), files(options.pageFolder) {}

    UiLoop& ui;
    Options options;
    PageFiles files;
    // The page lives below a path of its own; what lets a request in is the
    // session cookie, which the page gets once for a single-use token.
    const std::string pagePath = NewSecret(16);
    const std::string cookie = NewSecret();
    std::mutex tokenLock;
    std::vector<std::string> tokens; // not yet used
    std::string firstToken;
    std::unique_ptr<HttpServer> server;
    int port = 0;

    ScriptObject* object = nullptr; // user-interface thread only
    std::atomic<BrowserEvents*> events{nullptr};

    // The event stream to the page. Page calls are kept for the page served
    // last until its stream opens; a newer load of the page replaces it.
    mutable std::mutex streamLock;
    std::condition_variable streamWake;
    std::deque<std::string> outgoing;
    size_t outgoingBytes = 0;
    std::string currentPage; // empty: no page served yet
    uint64_t generation = 0;
    bool connected = false;
    bool stopping = false;

    // Folder pickers open in the page, by id; user-interface thread only.
    uint64_t lastPicker = 0;
    std::map<uint64_t, std::pair<std::string, std::function<void(const std::string&)>>> pickers;
    std::function<void(const std::string&)> errorReport; // user-interface thread only

    std::mutex clickLock;
    std::map<std::string, std::function<void()>> clicks;

    bool passDefault = false; // user-interface thread only, during a key event

    std::string Host() const { return "127.0.0.1:" + std::to_string(port); }
    std::string Prefix() const { return "/" + pagePath + "/"; }

    std::string NewToken() {
        std::lock_guard lock(tokenLock);
        tokens.push_back(NewSecret());
        // Addresses nobody opened do not pile up.
        if (tokens.size() > 16)
            tokens.erase(tokens.begin());
        return tokens.back();
    }

    // Takes the token if it is one not yet used.
    bool UseToken(const std::string& token) {
        std::lock_guard lock(tokenLock);
        for (auto it = tokens.begin(); it != tokens.end(); ++it) {
            if (SameSecret(*it, token)) {
                tokens.erase(it);
                return true;
            }
        }
        return false;
    }

    // The request comes from a page of this host on this machine.
    bool FromHere(const HttpRequest& request) const {
        if (request.peer.rfind("127.", 0) != 0)
            return false;
        const auto hosts = request.HeaderValues("Host");
        if (hosts.size() != 1)
            return false;
        const std::string& host = hosts.front();
        if (host != Host() && host != "localhost:" + std::to_string(port))
            return false;
        if (request.HasHeader("Origin") && request.Header("Origin") != "http://" + host)
            return false;
        if (request.HasHeader("Sec-Fetch-Site")) {
            const std::string site = request.Header("Sec-Fetch-Site");
            if (site != "same-origin" && site != "none")
                return false;
        }
        return true;
    }

    bool HasSession(const HttpRequest& request) const {
        const std::string prefix = Prefix();
        if (request.path.compare(0, prefix.size(), prefix) != 0)
            return false;
        std::string shown;
        for (const std::string& header : request.HeaderValues("Cookie")) {
            shown = CookieValue(header, kCookieName);
            if (!shown.empty())
                break;
        }
        return SameSecret(shown, cookie);
    }

    // "/TOKEN/index.html": the address the browser is started with.
    static std::optional<std::string> TokenOf(const std::string& path) {
        constexpr const char* kIndex = "/index.html";
        if (path.size() != 1 + 32 + std::strlen(kIndex) || path[0] != '/' || path.compare(33, std::string::npos, kIndex) != 0)
            return std::nullopt;
        return path.substr(1, 32);
    }

    // Exchanges a fresh token for the session cookie and sends the browser on to the page.
    std::optional<HttpResponse> ExchangeToken(const HttpRequest& request) {
        if (request.method != "GET")
            return std::nullopt;
        const auto token = TokenOf(request.path);
        if (!token || !UseToken(*token))
            return std::nullopt;
        HttpResponse response = HttpResponse::Status(303);
        response.SetHeader("Location", Prefix() + "index.html");
        response.SetHeader("Set-Cookie", std::string(kCookieName) + "=" + cookie + "; Path=" + Prefix() +
                                             "; HttpOnly; SameSite=Strict");
        response.SetHeader("Cache-Control", "no-store");
        return response;
    }

    // On the server's thread, before a body is read: what has no session is
    // answered here and ends its connection.
    std::optional<HttpResponse> Admit(const HttpRequest& request) {
        if (FromHere(request)) {
            if (HasSession(request))
                return std::nullopt;
            if (auto traded = ExchangeToken(request))
                return traded;
        }
        HttpResponse refused = HttpResponse::Status(403, true);
        refused.SetContent("Forbidden", "text/plain");
        return refused;
    }

    HttpResponse Serve(const HttpRequest& request) {
        HttpResponse response;
        if (request.method == "GET" || request.method == "HEAD") {
            if (IsBridge(request, "stream"))
                HandleStream(request, response);
            else if (request.path.rfind(Prefix() + kBridgePath, 0) == 0)
                response = HttpResponse::Status(404);
            else
                HandleFile(request, response);
        } else if (request.method == "POST") {
            if (IsBridge(request, "call"))
                HandleCall(request, response);
            else if (IsBridge(request, "event"))
                HandleEvent(request, response);
            else
                response = HttpResponse::Status(404);
        } else {
            response = HttpResponse::Status(405);
            response.SetHeader("Allow", "GET, HEAD, POST");
        }
        return response;
    }

    // Queues one message for the page served last; dropped while no page has
    // been served, or when that page has left too much waiting.
    bool Send(const json& message) {
        std::string data = "data: " + Dump(message) + "\n\n";
        {
            std::lock_guard lock(streamLock);
            if (currentPage.empty() || stopping || outgoingBytes + data.size() > kQueuedBytesLimit)
                return false;
            outgoingBytes += data.size();
            outgoing.push_back(std::move(data));
        }
        streamWake.notify_all();
        return true;
    }

    // Runs work on the user-interface thread and waits for its answer.
    // An error that escapes the work goes to the error report; the caller gets no value.
    json OnUi(std::function<json()> work) {
        auto promise = std::make_shared<std::promise<json>>();
        auto answer = promise->get_future();
        const bool posted = ui.Post([this, promise, work = std::move(work)] {
            try {
                promise->set_value(work());
                return;
            } catch (const std::exception& error) {
                ReportError(error.what());
            } catch (...) {
                ReportError("unknown error");
            }
            promise->set_value(json::object());
        });
        if (!posted)
            return json{{"refused", true}};
        try {
            return answer.get();
        } catch (const std::future_error&) { // the loop quit before the work ran
            return json{{"refused", true}};
        }
    }

    void ReportError(const std::string& what) {
        std::cerr << "tessaro: host call failed: " << what << "\n";
        if (errorReport) {
            try {
                errorReport(what);
            } catch (...) { // the report itself must not end the program
            }
        }
    }

    void HandleCall(const HttpRequest& request, HttpResponse& response) {
        auto decoded = DecodeBridgeRequest(request.body);
        if (!decoded) {
            response.status = 400;
            response.SetContent(R"({"refused":true})", "application/json");
            return;
        }
        const json reply = OnUi([this, call = std::move(*decoded)] {
            if (object == nullptr)
                return json{{"refused", true}};
            const auto result = object->Invoke(call.access, call.op, call.args);
            if (result.refused)
                return json{{"refused", true}};
            json answer = json::object();
            if (result.value)
                answer["value"] = *result.value;
            return answer;
        });
        response.SetContent(Dump(reply), "application/json");
    }

    // Members of an event body as the page sends them; a member of another
    // type, or a number outside the range, reads as the default.
    static std::string TextMember(const json& body, const char* name) {
        const auto it = body.find(name);
        return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
    }
    static int IntMember(const json& body, const char* name, int fallback) {
        const auto it = body.find(name);
        if (it == body.end() || !it->is_number_integer())
            return fallback;
        const int64_t value =
            it->is_number_unsigned() && it->get<uint64_t>() > INT64_MAX ? INT64_MAX : it->get<int64_t>();
        return value >= INT32_MIN && value <= INT32_MAX ? static_cast<int>(value) : fallback;
    }

    static uint64_t IdMember(const json& body) {
        const auto member = body.find("id");
        return member != body.end() && member->is_number_unsigned() ? member->get<uint64_t>() : 0;
    }

    void HandleEvent(const HttpRequest& request, HttpResponse& response) {
        json body = json::parse(request.body, nullptr, false);
        if (!body.is_object())
            body = json::object();
        const std::string type = TextMember(body, "type");
        json reply = json::object();
        if (type == "folders") {
            const uint64_t id = IdMember(body);
            const std::string path = TextMember(body, "path");
            reply = OnUi([this, id, path] {
                const auto found = pickers.find(id);
                if (found == pickers.end())
                    return json::object();
                json listing = json::parse(FolderListing(path, found->second.first), nullptr, false);
                if (listing.is_discarded())
                    listing = json{{"path", path}, {"parent", ""}, {"folders", json::array()},
                                   {"error", "the folder cannot be listed"}};
                return json{{"value", listing}};
            });
        } else if (type == "picked") {
            const uint64_t id = IdMember(body);
            const auto member = body.find("path");
            const bool chosen = member != body.end() && member->is_string();
            const std::string path = chosen ? member->get<std::string>() : std::string();
            OnUi([this, id, chosen, path] {
                const auto found = pickers.find(id);
                if (found == pickers.end())
                    return json::object();
                auto onChosen = std::move(found->second.second);
                pickers.erase(found);
                if (chosen && onChosen)
                    onChosen(path);
                return json::object();
            });
        } else if (type == "console") {
            const std::string message = TextMember(body, "message");
            const std::string source = TextMember(body, "source");
            const int line = IntMember(body, "line", 0);
            ui.Post([this, message, source, line] {
                if (auto* sink = events.load())
                    sink->chromeConsoleMessage(message, source, line);
            });
        } else if (type == "loadend") {
            const int status = IntMember(body, "status", 200);
            OnUi([this, status] {
                if (auto* sink = events.load())
                    sink->chromeLoadEnd(status);
                return json::object();
            });
        } else if (type == "menu") {
            reply = OnUi([this] {
                auto* sink = events.load();
                return json{{"value", sink != nullptr && sink->chromeBeforeMenu()}};
            });
        } else if (type == "key") {
            const int keyCode = IntMember(body, "keyCode", 0);
            reply = OnUi([this, keyCode] {
                auto* sink = events.load();
                passDefault = false;
                const bool handled = sink != nullptr && sink->appEventsShortCut(keyCode);
                return json{{"value", handled}, {"passDefault", passDefault}};
            });
        } else if (type == "click") {
            const std::string id = TextMember(body, "id");
            OnUi([this, id] {
                std::function<void()> action;
                {
                    std::lock_guard lock(clickLock);
                    const auto found = clicks.find(id);
                    if (found != clicks.end())
                        action = found->second;
                }
                if (action)
                    action();
                return json::object();
            });
        } else {
            response.status = 400;
        }
        response.SetContent(Dump(reply), "application/json");
    }

    void HandleStream(const HttpRequest& request, HttpResponse& response) {
        uint64_t mine = 0;
        {
            std::lock_guard lock(streamLock);
            if (currentPage.empty() || request.QueryValue("page") != currentPage) {
                // A page that a newer load replaced: 204 tells it not to come back.
                response.status = 204;
                return;
            }
            mine = ++generation;
            connected = true;
        }
        streamWake.notify_all(); // an older stream of the same page ends
        ui.Wake();
        response.SetHeader("Content-Type", "text/event-stream");
        response.SetHeader("Cache-Control", "no-store");
        response.SetHeader("X-Accel-Buffering", "no");
        response.stream = [this, mine](std::string& batch) {
            std::unique_lock lock(streamLock);
            const bool woke = streamWake.wait_for(lock, kStreamPing, [&] {
                return stopping || generation != mine || !outgoing.empty();
            });
            if (stopping || generation != mine)
                return false;
            if (!woke)
                batch = ":\n\n"; // keeps the line alive and finds a closed page
            while (!outgoing.empty()) {
                batch += outgoing.front();
                outgoing.pop_front();
            }
            outgoingBytes = 0;
            return true;
        };
        response.streamEnded = [this, mine] {
            {
                std::lock_guard lock(streamLock);
                if (generation == mine)
                    connected = false;
            }
            ui.Wake();
        };
    }

    void HandleFile(const HttpRequest& request, HttpResponse& response) {
        const std::string relative = request.path.substr(Prefix().size());
        const auto found = files.Find(relative);
        if (found.verdict == PageFiles::Verdict::Forbidden) {
            response = HttpResponse::Status(403);
            return;
        }
        std::string content;
        if (found.verdict == PageFiles::Verdict::NotFound || !ReadFile(found.file, content)) {
            response = HttpResponse::Status(404);
            return;
        }
        if (found.file == files.Root() / "index.html")
            content = InjectBridge(content, MakeBridgeMarkup({Prefix() + kBridgePath, NewPage(),
                                                               options.objectName, options.operations,
                                                               options.properties}));
        response.SetHeader("Cache-Control", "no-store");
        response.SetContent(std::move(content), PageFiles::ContentType(found.file));
    }

    // A new load of the page: page calls from now on are kept for it, and the
    // older page's stream ends.
    std::string NewPage() {
        std::string page = NewSecret(16);
        {
            std::lock_guard lock(streamLock);
            currentPage = page;
            outgoing.clear();
            outgoingBytes = 0;
            ++generation;
            connected = false;
        }
        streamWake.notify_all();
        ui.Wake();
        return page;
    }

    bool IsBridge(const HttpRequest& request, const char* name) const {
        return request.path == Prefix() + kBridgePath + name;
    }
};

WebBridge::WebBridge(UiLoop& ui, Options options) : impl_(std::make_unique<Impl>(ui, std::move(options))) {
    Impl* impl = impl_.get();
    impl->server = std::make_unique<HttpServer>([impl](const HttpRequest& head) { return impl->Admit(head); },
                                                [impl](const HttpRequest& request) { return impl->Serve(request); });
}

WebBridge::~WebBridge() {
    Stop();
}

bool WebBridge::Start(std::string& error) {
    auto& impl = *impl_;
    if (!impl.server->Start(impl.options.port > 0 ? impl.options.port : 0, error))
        return false;
    impl.port = impl.server->Port();
    return true;
}

void WebBridge::Stop() {
    auto& impl = *impl_;
    {
        std::lock_guard lock(impl.streamLock);
        impl.stopping = true;
        impl.connected = false;
    }
    impl.streamWake.notify_all();
    impl.ui.Wake();
    impl.server->Stop();
}

int WebBridge::Port() const {
    return impl_->port;
}
std::string WebBridge::PageAddress() const {
    auto& impl = *impl_;
    {
        std::lock_guard lock(impl.tokenLock);
        if (!impl.firstToken.empty())
            return "http://" + impl.Host() + "/" + impl.firstToken + "/index.html";
    }
    const std::string token = impl.NewToken();
    std::lock_guard lock(impl.tokenLock);
    impl.firstToken = token;
    return "http://" + impl.Host() + "/" + token + "/index.html";
}
std::string WebBridge::NewPageAddress() {
    return "http://" + impl_->Host() + "/" + impl_->NewToken() + "/index.html";
}

void WebBridge::SetScriptObject(ScriptObject* object) {
    impl_->object = object;
}
void WebBridge::SetEvents(BrowserEvents* events) {
    impl_->events = events;
}
void WebBridge::SetErrorReport(std::function<void(const std::string&)> report) {
    impl_->errorReport = std::move(report);
}

void WebBridge::ExecuteJS(const std::string& code) {
    impl_->Send({{"k", "js"}, {"c", code}});
}

void WebBridge::BindClick(const std::string& elementId, std::function<void()> onClick) {
    {
        std::lock_guard lock(impl_->clickLock);
        impl_->clicks[elementId] = std::move(onClick);
    }
    impl_->Send({{"k", "bind"}, {"id", elementId}});
}

void WebBridge::UnbindAll() {
    std::lock_guard lock(impl_->clickLock);
    impl_->clicks.clear();
}

bool WebBridge::PageConnected() const {
    std::lock_guard lock(impl_->streamLock);
    return impl_->connected;
}

void WebBridge::ShowPage() {
    impl_->Send({{"k", "show"}});
}

void WebBridge::ShowModalMessage(const std::string& text) {
    // The page shows its boxes one after another; the host waits for none of
    // them, so a page blocked in a host call cannot hold the host.
    impl_->Send({{"k", "modal"}, {"text", text}});
}

void WebBridge::PickFolder(const std::string& startFolder, std::function<void(const std::string&)> onChosen) {
    auto& impl = *impl_;
    const uint64_t id = ++impl.lastPicker;
    // One picker at a time: a newer one replaces the one still open.
    impl.pickers.clear();
    impl.pickers[id] = {startFolder, std::move(onChosen)};
    impl.Send({{"k", "picker"}, {"id", id}, {"start", startFolder}});
}

void WebBridge::ShowDevTools() {
    impl_->passDefault = true;
}

void WebBridge::BringToFront() {
    impl_->Send({{"k", "focus"}});
}
