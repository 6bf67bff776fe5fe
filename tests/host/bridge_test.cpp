#include <gtest/gtest.h>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "f_home/bridge_script.h"
#include "f_home/web_bridge.h"
#include "raw_connection.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// Answers "echo" with its arguments, "nothing" with no result, and refuses the rest.
class FakeObject : public ScriptObject {
public:
    explicit FakeObject(UiLoop& ui) : ui_(ui) {}
    Reply Invoke(Access access, const std::string& name, const json& args) override {
        ++invocations;
        onUiThread = onUiThread && ui_.IsUiThread();
        if (access == Access::Call && name == "echo")
            return Reply::Value(args);
        if (access == Access::Call && name == "nothing")
            return Reply::Nothing();
        if (access == Access::Call && name == "fail")
            throw std::runtime_error("the operation broke");
        return Reply::Refused();
    }
    std::atomic<int> invocations{0};
    std::atomic<bool> onUiThread{true};

private:
    UiLoop& ui_;
};

class FakeEvents : public BrowserEvents {
public:
    void chromeLoadEnd(int status) override { loadEnds.push_back(status); }
    void chromeConsoleMessage(const std::string& message, const std::string&, int) override {
        std::lock_guard lock(mutex);
        console.push_back(message);
    }
    bool chromeBeforeMenu() override { return true; }
    bool appEventsShortCut(int keyCode) override { return keyCode == 123; }
    std::vector<int> loadEnds;
    std::mutex mutex;
    std::vector<std::string> console;
};

// A user-interface loop on a thread of its own, as the program's main thread is.
class UiThread {
public:
    UiThread() {
        std::promise<UiLoop*> made;
        auto ready = made.get_future();
        thread_ = std::thread([&made] {
            UiLoop own;
            made.set_value(&own);
            own.Run();
        });
        loop = ready.get();
    }
    ~UiThread() {
        loop->Quit();
        thread_.join();
    }
    template <typename F> auto Run(F work) {
        std::packaged_task<decltype(work())()> task(std::move(work));
        auto result = task.get_future();
        loop->Post([&task] { task(); });
        return result.get();
    }
    UiLoop* loop = nullptr;

private:
    std::thread thread_;
};

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() / ("tsr-bridge-" + std::to_string(::getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "htmlapp/sub");
        Write(root / "htmlapp/index.html", "<!DOCTYPE html><html><head><title>t</title><script "
                                           "src=\"app.js\"></script></head><body></body></html>");
        Write(root / "htmlapp/app.js", "var App = {};");
        Write(root / "htmlapp/sub/style.css", "body{}");
        Write(root / "outside.txt", "secret data");
        std::filesystem::create_symlink(root / "outside.txt", root / "htmlapp/link.txt");
        bridge = std::make_unique<WebBridge>(
            *ui.loop, WebBridge::Options{root / "htmlapp", 0, "host", {"echo", "nothing", "fail"}, {"errors"}});
        std::string error;
        ASSERT_TRUE(bridge->Start(error)) << error;
        // As the browser's first load does: the token for the session cookie.
        httplib::Client first("127.0.0.1", bridge->Port());
        auto traded = first.Get(TokenPath(bridge->PageAddress()).c_str());
        ASSERT_TRUE(traded);
        ASSERT_EQ(traded->status, 303);
        const std::string location = traded->get_header_value("Location");
        ASSERT_EQ(location.substr(location.size() - 10), "index.html");
        base = location.substr(0, location.size() - 10);
        const std::string setCookie = traded->get_header_value("Set-Cookie");
        cookie = setCookie.substr(0, setCookie.find(';'));
        ui.Run([&] {
            bridge->SetScriptObject(&object);
            return 0;
        });
        bridge->SetEvents(&events);
    }
    void TearDown() override {
        bridge->Stop();
        std::filesystem::remove_all(root);
    }

    static void Write(const std::filesystem::path& file, const std::string& text) {
        std::ofstream(file) << text;
    }

    static std::string TokenPath(const std::string& address) {
        return address.substr(address.find('/', std::string("http://").size()));
    }

    // A client that shows the session cookie (or none).
    httplib::Client Client(bool withCookie = true) {
        httplib::Client client("127.0.0.1", bridge->Port());
        client.set_read_timeout(10, 0);
        if (withCookie)
            client.set_default_headers({{"Cookie", cookie}});
        return client;
    }
    std::string Base() const { return base; }

    // Loads the page as the browser does; returns this load's page id.
    std::string LoadPage() {
        auto page = Client().Get((Base() + "index.html").c_str());
        if (!page || page->status != 200)
            return std::string();
        const std::string marker = "page = \"";
        const size_t at = page->body.find(marker);
        if (at == std::string::npos)
            return std::string();
        const size_t begin = at + marker.size();
        return page->body.substr(begin, page->body.find('"', begin) - begin);
    }

    httplib::Result PostCall(const json& body, httplib::Headers headers = {}) {
        return Client().Post((Base() + "~host/call").c_str(), headers, body.dump(), "application/json");
    }

    // Reads the event stream on a thread; each message's decoded object is kept.
    struct StreamReader {
        std::mutex mutex;
        std::condition_variable arrived;
        std::vector<json> messages;
        std::string pending;
        std::thread thread;
        std::atomic<bool> ended{false};

        void Start(httplib::Client client, std::string path) {
            thread = std::thread([this, client = std::move(client), path]() mutable {
                client.Get(path.c_str(), [this](const char* data, size_t size) {
                    std::lock_guard lock(mutex);
                    pending.append(data, size);
                    for (size_t end; (end = pending.find("\n\n")) != std::string::npos;) {
                        const std::string event = pending.substr(0, end);
                        pending.erase(0, end + 2);
                        if (event.rfind("data: ", 0) == 0)
                            messages.push_back(json::parse(event.substr(6)));
                    }
                    arrived.notify_all();
                    return true;
                });
                ended = true;
                arrived.notify_all();
            });
        }
        bool WaitFor(size_t count) {
            std::unique_lock lock(mutex);
            return arrived.wait_for(lock, 10s, [&] { return messages.size() >= count || ended; }) &&
                   messages.size() >= count;
        }
        ~StreamReader() {
            if (thread.joinable())
                thread.join();
        }
    };

    void OpenStream(StreamReader& reader, std::string page = std::string()) {
        if (page.empty())
            page = LoadPage();
        reader.Start(Client(), Base() + "~host/stream?page=" + page);
        for (int i = 0; i < 500 && !bridge->PageConnected(); ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(bridge->PageConnected());
    }

    UiThread ui;
    FakeObject object{*ui.loop};
    FakeEvents events;
    std::unique_ptr<WebBridge> bridge;
    std::filesystem::path root;
    std::string base;   // the page's path, "/<page path>/"
    std::string cookie; // "tsr_session=..."
};

TEST_F(BridgeTest, TheAddressTokenIsGoodForOneLoadAndTheCookieForTheRest) {
    const std::string address = bridge->PageAddress();
    const std::string prefix = "http://127.0.0.1:" + std::to_string(bridge->Port()) + "/";
    ASSERT_EQ(address.rfind(prefix, 0), 0u);
    const std::string token = address.substr(prefix.size(), 32);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(address, prefix + token + "/index.html");
    EXPECT_EQ(bridge->PageAddress(), address); // the same address each time it is asked
    EXPECT_EQ(Base().find(token), std::string::npos);
    // Used once by the fixture: a replay is refused, with or without the cookie.
    for (bool withCookie : {false, true}) {
        auto replay = Client(withCookie).Get(TokenPath(address).c_str());
        ASSERT_TRUE(replay);
        EXPECT_EQ(replay->status, 403);
        EXPECT_FALSE(replay->has_header("Set-Cookie"));
    }
    // Another address is good once, too.
    const std::string more = bridge->NewPageAddress();
    EXPECT_NE(more, address);
    auto once = Client(false).Get(TokenPath(more).c_str());
    ASSERT_TRUE(once);
    EXPECT_EQ(once->status, 303);
    auto twice = Client(false).Get(TokenPath(more).c_str());
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->status, 403);
    // The cookie is the key to the page: without it nothing is served.
    auto without = Client(false).Get((Base() + "index.html").c_str());
    ASSERT_TRUE(without);
    EXPECT_EQ(without->status, 403);
    auto with = Client().Get((Base() + "index.html").c_str());
    ASSERT_TRUE(with);
    EXPECT_EQ(with->status, 200);
}

TEST_F(BridgeTest, IndexGetsTheBridgeBeforeItsFirstScript) {
    auto page = Client().Get((Base() + "index.html").c_str());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    const size_t bridgeAt = page->body.find("Object.defineProperty(window, objectName");
    const size_t appAt = page->body.find("<script src=\"app.js\">");
    ASSERT_NE(bridgeAt, std::string::npos);
    ASSERT_NE(appAt, std::string::npos);
    EXPECT_LT(bridgeAt, appAt);
    EXPECT_NE(page->body.find("\"" + Base() + "~host/\""), std::string::npos);
    EXPECT_EQ(page->body.find("<!DOCTYPE html>"), 0u);

    auto index = Client().Get(Base().c_str());
    ASSERT_TRUE(index);
    EXPECT_EQ(index->status, 200);

    auto script = Client().Get((Base() + "app.js").c_str());
    ASSERT_TRUE(script);
    EXPECT_EQ(script->body, "var App = {};");
    EXPECT_EQ(script->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
    auto style = Client().Get((Base() + "sub/style.css").c_str());
    ASSERT_TRUE(style);
    EXPECT_EQ(style->status, 200);
}

TEST_F(BridgeTest, CallsRoundTripOnTheUserInterfaceThread) {
    auto echo = PostCall({{"op", "echo"}, {"kind", "call"}, {"args", {2, "two", true, nullptr, 2.5}}});
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->status, 200);
    EXPECT_EQ(json::parse(echo->body), json::parse(R"({"value":[2,"two",true,null,2.5]})"));
    auto nothing = PostCall({{"op", "nothing"}, {"args", json::array()}});
    ASSERT_TRUE(nothing);
    EXPECT_EQ(json::parse(nothing->body), json::object());
    auto refused = PostCall({{"op", "other"}, {"args", json::array()}});
    ASSERT_TRUE(refused);
    EXPECT_EQ(json::parse(refused->body), json::parse(R"({"refused":true})"));
    EXPECT_EQ(object.invocations, 3);
    EXPECT_TRUE(object.onUiThread);

    auto malformed = Client().Post((Base() + "~host/call").c_str(), "{nope", "application/json");
    ASSERT_TRUE(malformed);
    EXPECT_EQ(malformed->status, 400);
    EXPECT_EQ(object.invocations, 3);
}

TEST_F(BridgeTest, RequestsWithoutTheRightCredentialsAreRefused) {
    const json call = {{"op", "echo"}, {"args", {1}}};
    const std::string body = call.dump();
    const std::string port = std::to_string(bridge->Port());
    const auto post = [&](const std::string& path, httplib::Headers headers) {
        return Client().Post(path.c_str(), headers, body, "application/json");
    };
    const std::string callPath = Base() + "~host/call";
    const auto bare = [&](const std::string& path, httplib::Headers headers) {
        return Client(false).Post(path.c_str(), headers, body, "application/json");
    };
    const std::string cookieValue = cookie.substr(cookie.find('=') + 1);
    const std::vector<std::pair<std::string, std::function<httplib::Result()>>> refusals = {
        {"no cookie", [&] { return bare(callPath, {}); }},
        {"wrong cookie", [&] { return bare(callPath, {{"Cookie", "tsr_session=" + std::string(32, '0')}}); }},
        {"cookie under another name", [&] { return bare(callPath, {{"Cookie", "other=" + cookieValue}}); }},
        {"cookie as a query", [&] { return bare(callPath + "?tsr_session=" + cookieValue, {}); }},
        {"cookie outside the page path", [&] { return post("/~host/call", {}); }},
        {"foreign host",
         [&] {
             return post(callPath, {{"Host", "evil.example:" + port}});
         }},
        {"other port",
         [&] {
             return post(callPath, {{"Host", "127.0.0.1:1"}});
         }},
        {"host without port",
         [&] {
             return post(callPath, {{"Host", "127.0.0.1"}});
         }},
        {"foreign origin",
         [&] {
             return post(callPath, {{"Origin", "http://evil.example"}});
         }},
        {"null origin",
         [&] {
             return post(callPath, {{"Origin", "null"}});
         }},
        {"origin on another port",
         [&] {
             return post(callPath, {{"Origin", "http://127.0.0.1:1"}});
         }},
        {"cross-site fetch",
         [&] {
             return post(callPath, {{"Sec-Fetch-Site", "cross-site"}});
         }},
        {"stream without cookie", [&] { return Client(false).Get((Base() + "~host/stream").c_str()); }},
        {"page without cookie", [&] { return Client(false).Get((Base() + "index.html").c_str()); }},
        {"root", [&] { return Client().Get("/"); }},
        {"parent folder", [&] { return Client().Get((Base() + "../outside.txt").c_str()); }},
        {"encoded parent folder", [&] { return Client().Get((Base() + "%2e%2e/outside.txt").c_str()); }},
        {"parent inside", [&] { return Client().Get((Base() + "sub/../index.html").c_str()); }},
        {"backslash", [&] { return Client().Get((Base() + "..%5coutside.txt").c_str()); }},
        {"link out of the folder", [&] { return Client().Get((Base() + "link.txt").c_str()); }},
        {"double slash", [&] { return Client().Get((Base() + "/etc/passwd").c_str()); }},
    };
    for (const auto& [what, send] : refusals) {
        auto result = send();
        ASSERT_TRUE(result) << what;
        EXPECT_EQ(result->status, 403) << what;
        EXPECT_EQ(result->body.find("secret data"), std::string::npos) << what;
    }
    EXPECT_EQ(object.invocations, 0);

    // The same call with the right credentials runs; localhost names the loopback too.
    auto allowed =
        post(callPath, {{"Origin", "http://127.0.0.1:" + port}, {"Sec-Fetch-Site", "same-origin"}});
    ASSERT_TRUE(allowed);
    EXPECT_EQ(allowed->status, 200);
    auto named = post(callPath, {{"Host", "localhost:" + port}});
    ASSERT_TRUE(named);
    EXPECT_EQ(named->status, 200);
    EXPECT_EQ(object.invocations, 2);
}

TEST_F(BridgeTest, FoldersAreNotListedAndMissingFilesAreNotFound) {
    for (const char* path : {"sub", "sub/", "missing.js"}) {
        auto result = Client().Get((Base() + path).c_str());
        ASSERT_TRUE(result) << path;
        EXPECT_EQ(result->status, path == std::string("sub/") ? 403 : 404) << path;
    }
}

// Page calls wait for the page served last, in order, until its stream opens;
// with no page served, or for a page a reload replaced, they are dropped.
TEST_F(BridgeTest, PageCallsWaitForThePageThatWasServedUntilItsStreamOpens) {
    bridge->ExecuteJS("App.lost(1)"); // no page yet
    const std::string replaced = LoadPage();
    bridge->ExecuteJS("App.lost(2)"); // for the page the reload replaces
    const std::string page = LoadPage();
    ASSERT_FALSE(page.empty());
    ASSERT_NE(page, replaced);
    for (int i = 0; i < 3; ++i)
        bridge->ExecuteJS("App.early(" + std::to_string(i) + ")");
    // The replaced page's stream is turned away for good.
    auto old = Client().Get((Base() + "~host/stream?page=" + replaced).c_str());
    ASSERT_TRUE(old);
    EXPECT_EQ(old->status, 204);
    StreamReader reader;
    OpenStream(reader, page);
    bridge->ExecuteJS("App.late()");
    ASSERT_TRUE(reader.WaitFor(4));
    bridge->Stop();
    std::lock_guard lock(reader.mutex);
    std::vector<std::string> codes;
    for (const auto& message : reader.messages)
        codes.push_back(message.at("c"));
    EXPECT_EQ(codes, (std::vector<std::string>{"App.early(0)", "App.early(1)", "App.early(2)", "App.late()"}));
}

TEST_F(BridgeTest, AnErrorInAHostCallGoesToTheErrorReportAndTheCallAnswers) {
    std::vector<std::string> reports;
    ui.Run([&] {
        bridge->SetErrorReport([&](const std::string& what) {
            EXPECT_TRUE(ui.loop->IsUiThread());
            reports.push_back(what);
        });
        return 0;
    });
    auto failed = PostCall({{"op", "fail"}, {"args", json::array()}});
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->status, 200);
    EXPECT_EQ(json::parse(failed->body), json::object());
    EXPECT_EQ(ui.Run([&] { return reports; }), std::vector<std::string>{"the operation broke"});
    // The loop goes on with the next call.
    auto echo = PostCall({{"op", "echo"}, {"args", {1}}});
    ASSERT_TRUE(echo);
    EXPECT_EQ(json::parse(echo->body), json::parse(R"({"value":[1]})"));
}

TEST_F(BridgeTest, PageCallsOfEachThreadArriveInTheirOrder) {
    StreamReader reader;
    OpenStream(reader);
    constexpr int kEach = 300;
    auto issue = [&](const std::string& name) {
        for (int i = 0; i < kEach; ++i)
            bridge->ExecuteJS(name + "(" + std::to_string(i) + ")");
    };
    std::thread first(issue, "A"), second(issue, "B");
    first.join();
    second.join();
    ASSERT_TRUE(reader.WaitFor(2 * kEach));
    bridge->Stop();
    std::lock_guard lock(reader.mutex);
    ASSERT_EQ(reader.messages.size(), size_t{2 * kEach});
    int nextA = 0, nextB = 0;
    for (const auto& message : reader.messages) {
        const std::string code = message.at("c");
        int& next = code[0] == 'A' ? nextA : nextB;
        EXPECT_EQ(code.substr(1), "(" + std::to_string(next) + ")");
        ++next;
    }
    EXPECT_EQ(nextA, kEach);
    EXPECT_EQ(nextB, kEach);
}

TEST_F(BridgeTest, TextsSurviveTheStreamUnchanged) {
    StreamReader reader;
    OpenStream(reader);
    const std::string text =
        "App.loadSettings('{\\\"a\\\":\\\"D:\\\\\\\\x\\\"}')\nline two\r\n\xC3\xBC</script>";
    bridge->ExecuteJS(text);
    ASSERT_TRUE(reader.WaitFor(1));
    bridge->Stop();
    std::lock_guard lock(reader.mutex);
    EXPECT_EQ(reader.messages[0].at("c"), text);
}

TEST_F(BridgeTest, ANewerPageTakesTheStreamOver) {
    StreamReader older;
    OpenStream(older);
    StreamReader newer;
    newer.Start(Client(), Base() + "~host/stream?page=" + LoadPage());
    for (int i = 0; i < 500 && !older.ended; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(older.ended); // the older stream was closed by the host
    bridge->ExecuteJS("App.one()");
    ASSERT_TRUE(newer.WaitFor(1));
    bridge->Stop();
    EXPECT_TRUE(older.messages.empty());
}

TEST_F(BridgeTest, BrowserEventsReachTheWindowAndClicksTheirAction) {
    StreamReader reader;
    OpenStream(reader);
    const auto event = [&](const json& body) {
        auto result = Client().Post((Base() + "~host/event").c_str(), body.dump(), "application/json");
        EXPECT_TRUE(result);
        return result ? json::parse(result->body) : json();
    };
    event({{"type", "loadend"}, {"status", 200}});
    EXPECT_EQ(ui.Run([&] { return events.loadEnds; }), std::vector<int>{200});
    EXPECT_EQ(event({{"type", "menu"}}).at("value"), true);
    EXPECT_EQ(event({{"type", "key"}, {"keyCode", 123}}).at("value"), true);
    EXPECT_EQ(event({{"type", "key"}, {"keyCode", 113}}).at("value"), false);

    std::atomic<int> clicks{0};
    bridge->BindClick("set-working", [&] {
        EXPECT_TRUE(ui.loop->IsUiThread());
        ++clicks;
    });
    ASSERT_TRUE(reader.WaitFor(1));
    EXPECT_EQ(reader.messages[0], json::parse(R"({"k":"bind","id":"set-working"})"));
    event({{"type", "click"}, {"id", "set-working"}});
    event({{"type", "click"}, {"id", "set-zero"}}); // not bound
    EXPECT_EQ(clicks, 1);
    bridge->UnbindAll();
    event({{"type", "click"}, {"id", "set-working"}});
    EXPECT_EQ(clicks, 1);
    bridge->Stop();
}

// Event bodies of the wrong shape are answered and read with defaults; an
// out-of-range number never becomes an int by overflow.
TEST_F(BridgeTest, EventBodiesOfTheWrongShapeAreAnsweredWithDefaults) {
    const auto post = [&](const std::string& body) {
        auto result = Client().Post((Base() + "~host/event").c_str(), body, "application/json");
        EXPECT_TRUE(result);
        return result ? result->status : 0;
    };
    for (const char* body :
         {R"({"type":"key","keyCode":"x"})", R"({"type":"key","keyCode":1e300})",
          R"({"type":"key","keyCode":99999999999})", R"({"type":"click","id":7})",
          R"({"type":"console","message":[],"line":-1e300})", R"({"type":"folders","id":"x"})",
          R"({"type":"picked","id":-1,"path":5})"}) {
        EXPECT_EQ(post(body), 200) << body;
    }
    for (const char* body : {R"({"type":["loadend"]})", R"([1,2])", "not json"})
        EXPECT_EQ(post(body), 400) << body; // no event at all
    EXPECT_EQ(post(R"({"type":"loadend","status":1e300})"), 200);
    EXPECT_EQ(ui.Run([&] { return events.loadEnds; }), std::vector<int>{200});
    EXPECT_EQ(post(R"({"type":"console","message":5})"), 200);
    ui.Run([] { return 0; }); // the console message's post has run
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(events.console, (std::vector<std::string>{"", ""}));
}

// A page blocked in a host call cannot close a box: the host waits for none,
// and boxes asked for while one is open follow it instead of nesting.
TEST_F(BridgeTest, ModalMessagesQueueAndNeverHoldTheLoop) {
    StreamReader reader;
    OpenStream(reader);
    ui.Run([&] {
        for (int i = 0; i < 3; ++i)
            bridge->ShowModalMessage("Console: " + std::to_string(i));
        return 0;
    });
    ASSERT_TRUE(reader.WaitFor(3));
    bridge->Stop();
    std::lock_guard lock(reader.mutex);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(reader.messages[i].at("k"), "modal");
        EXPECT_EQ(reader.messages[i].at("text"), "Console: " + std::to_string(i));
    }
}

TEST_F(BridgeTest, TheFolderPickerListsFoldersAndReportsOnlyAConfirmedChoice) {
    StreamReader reader;
    OpenStream(reader);
    std::vector<std::string> chosen;
    const auto event = [&](const json& body) {
        auto result = Client().Post((Base() + "~host/event").c_str(), body.dump(), "application/json");
        return result && result->status == 200 ? json::parse(result->body) : json();
    };
    const auto open = [&](size_t messages) {
        ui.Run([&] {
            bridge->PickFolder((root / "htmlapp").string(), [&](const std::string& path) { chosen.push_back(path); });
            return 0;
        });
        EXPECT_TRUE(reader.WaitFor(messages));
        std::lock_guard lock(reader.mutex);
        const json message = reader.messages[messages - 1];
        EXPECT_EQ(message.at("k"), "picker");
        EXPECT_EQ(message.at("start"), (root / "htmlapp").string());
        return message.at("id").get<uint64_t>();
    };
    const uint64_t first = open(1);
    const json listing = event({{"type", "folders"}, {"id", first}, {"path", (root / "htmlapp").string()}});
    EXPECT_EQ(listing.at("value").at("path"), (root / "htmlapp").string());
    EXPECT_EQ(listing.at("value").at("folders"), json::array({"sub"}));
    EXPECT_EQ(listing.at("value").at("parent"), root.string());
    // Cancelled: nothing is reported, and the picker is gone.
    event({{"type", "picked"}, {"id", first}, {"path", nullptr}});
    event({{"type", "picked"}, {"id", first}, {"path", (root / "htmlapp").string()}});
    EXPECT_TRUE(ui.Run([&] { return chosen; }).empty());
    EXPECT_EQ(event({{"type", "folders"}, {"id", first}, {"path", "/"}}), json::object());
    // Confirmed: reported once.
    const uint64_t second = open(2);
    EXPECT_NE(second, first);
    event({{"type", "picked"}, {"id", second}, {"path", (root / "htmlapp/sub").string()}});
    event({{"type", "picked"}, {"id", second}, {"path", "/"}});
    EXPECT_EQ(ui.Run([&] { return chosen; }), std::vector<std::string>{(root / "htmlapp/sub").string()});
    bridge->Stop();
}

// Another local user knows the port but not the cookie, and sends what they
// like. A head that keeps growing is answered at the limit and its connection
// closed long before the server has taken much of it.
TEST_F(BridgeTest, AHeadPastTheLimitIsAnsweredAndClosedEarly) {
    const std::string host = "Host: 127.0.0.1:" + std::to_string(bridge->Port()) + "\r\n";
    struct Case {
        const char* what;
        std::string start;
        std::string piece; // repeated until the server closes
        const char* status;
    };
    const Case cases[] = {
        {"request line", "GET /" + Base(), std::string(64 * 1024, 'a'), "414"},
        {"one header", "GET " + Base() + "index.html HTTP/1.1\r\n" + host + "X-Long: ", std::string(64 * 1024, 'b'), "431"},
        {"many small headers", "GET " + Base() + "index.html HTTP/1.1\r\n" + host, [] {
             std::string lines;
             while (lines.size() < 64 * 1024)
                 lines += "X-" + std::to_string(lines.size()) + ": v\r\n";
             return lines;
         }(), "431"},
    };
    constexpr size_t kGiveUp = 64u << 20;
    for (const Case& c : cases) {
        RawConnection other(bridge->Port());
        ASSERT_TRUE(other.Open()) << c.what;
        bool open = other.Send(c.start);
        while (open && other.sentTotal < kGiveUp) {
            open = other.Send(c.piece) && other.ReadWaiting();
        }
        other.ReadUntilClosed();
        EXPECT_LT(other.sentTotal, kGiveUp) << c.what << ": the server went on taking the head";
        if (!other.received.empty()) {
            EXPECT_EQ(other.received.substr(0, 12), std::string("HTTP/1.1 ") + c.status) << c.what;
        }
    }
    // Just past the limit, sent at once: the answer says why.
    const std::vector<std::pair<std::string, const char*>> exact = {
        {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n" + host + "\r\n", "414"},
        {"GET " + Base() + "index.html HTTP/1.1\r\n" + host + "X-Long: " + std::string(9000, 'b') + "\r\n\r\n", "431"},
        {"GET " + Base() + "index.html HTTP/1.1\r\n" + host + [] {
             std::string lines;
             for (int i = 0; i < 300; ++i)
                 lines += "X:" + std::to_string(i % 10) + "\r\n";
             return lines;
         }() + "\r\n", "431"},
        {"GET " + Base() + "index.html HTTP/1.1\r\n" + host + "Bad Header: x\r\n\r\n", "400"},
        {"GET " + Base() + "index.html HTTP/2.0\r\n" + host + "\r\n", "505"},
    };
    for (const auto& [request, status] : exact) {
        RawConnection other(bridge->Port());
        other.Send(request);
        EXPECT_TRUE(other.ReadUntilClosed()) << request.substr(0, 40);
        EXPECT_EQ(other.received.substr(0, 12), std::string("HTTP/1.1 ") + status) << request.substr(0, 40);
        EXPECT_EQ(other.Answers(), 1u);
    }
    // The page goes on.
    auto page = Client().Get((Base() + "index.html").c_str());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
}

// Bodies: a chunked one is not taken at all (its length is unknown until it
// has been read), one longer than the cap is refused before it is read, and
// the body of a refused request is never read as the next request.
TEST_F(BridgeTest, BodiesPastTheCapAndBodiesOfRefusedRequestsAreNotTaken) {
    const std::string host = "Host: 127.0.0.1:" + std::to_string(bridge->Port()) + "\r\n";
    const std::string callHead = "POST " + Base() + "~host/call HTTP/1.1\r\n" + host + "Cookie: " + cookie + "\r\n";
    constexpr size_t kGiveUp = 64u << 20;
    {
        RawConnection page(bridge->Port());
        bool open = page.Send(callHead + "Transfer-Encoding: chunked\r\n\r\n");
        const std::string chunk = "10000\r\n" + std::string(0x10000, '[') + "\r\n";
        while (open && page.sentTotal < kGiveUp)
            open = page.Send(chunk) && page.ReadWaiting();
        page.ReadUntilClosed();
        EXPECT_LT(page.sentTotal, kGiveUp) << "the chunked body was taken";
        if (!page.received.empty()) {
            EXPECT_EQ(page.received.substr(0, 12), "HTTP/1.1 411");
        }
        EXPECT_LE(page.Answers(), 1u);
    }
    // A request hidden in a refused request's body would get its own answer.
    const std::string hidden = "GET " + Base() + "index.html HTTP/1.1\r\n" + host + "Cookie: " + cookie + "\r\n\r\n";
    const std::string length = "Content-Length: " + std::to_string(hidden.size()) + "\r\n";
    struct Refusal {
        const char* what;
        std::string head;
        const char* status;
    };
    const Refusal refused[] = {
        {"longer than the cap", callHead + "Content-Length: " + std::to_string((16u << 20) + 1) + "\r\n", "413"},
        {"no cookie", "POST " + Base() + "~host/call HTTP/1.1\r\n" + host + length, "403"},
        {"foreign origin", callHead + "Origin: http://evil.example\r\n" + length, "403"},
        {"no session path", "POST /~host/call HTTP/1.1\r\n" + host + "Cookie: " + cookie + "\r\n" + length, "403"},
        {"two lengths", callHead + length + "Content-Length: 1\r\n", "400"},
        {"length and chunked", callHead + length + "Transfer-Encoding: chunked\r\n", "400"},
    };
    for (const Refusal& r : refused) {
        RawConnection other(bridge->Port());
        other.Send(r.head + "\r\n" + hidden);
        EXPECT_TRUE(other.ReadUntilClosed()) << r.what;
        EXPECT_EQ(other.received.substr(0, 12), std::string("HTTP/1.1 ") + r.status) << r.what;
        EXPECT_EQ(other.Answers(), 1u) << r.what << ": " << other.received;
    }
    EXPECT_EQ(object.invocations, 0);
}

// Connections that send a byte a second, and hundreds that send nothing, hold
// no thread of the server: the page's calls answer as always.
TEST_F(BridgeTest, SlowAndIdleConnectionsDoNotHoldThePagesCalls) {
    const std::string host = "Host: 127.0.0.1:" + std::to_string(bridge->Port()) + "\r\n";
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 500; ++i)
        idle.push_back(std::make_unique<RawConnection>(bridge->Port()));
    std::atomic<bool> done{false};
    std::thread slow([&] {
        std::vector<std::unique_ptr<RawConnection>> loris;
        for (int i = 0; i < 30; ++i)
            loris.push_back(std::make_unique<RawConnection>(bridge->Port()));
        const std::string request = "GET " + Base() + "index.html HTTP/1.1\r\n" + host + "X-Slow: ";
        for (size_t at = 0; !done; ++at) {
            for (auto& connection : loris)
                connection->Send(std::string(1, at < request.size() ? request[at] : 'x'), 100);
            for (int i = 0; i < 10 && !done; ++i)
                std::this_thread::sleep_for(100ms);
        }
    });
    std::this_thread::sleep_for(1500ms); // the slow ones have started their requests
    auto calls = std::async(std::launch::async, [&] {
        int answered = 0;
        auto kept = Client(); // the page's calls come over a kept-alive connection
        for (int i = 0; i < 10; ++i) {
            auto fresh = PostCall({{"op", "echo"}, {"args", {i}}});
            auto again = kept.Post((Base() + "~host/call").c_str(), json({{"op", "echo"}, {"args", {i}}}).dump(),
                                   "application/json");
            answered += fresh && fresh->status == 200 && again && again->status == 200;
        }
        return answered;
    });
    const bool answeredInTime = calls.wait_for(5s) == std::future_status::ready;
    EXPECT_TRUE(answeredInTime) << "the page's calls waited behind the slow connections";
    if (answeredInTime) {
        EXPECT_EQ(calls.get(), 10);
    }
    // Stopping does not wait for them either.
    auto stopped = std::async(std::launch::async, [&] { bridge->Stop(); });
    EXPECT_EQ(stopped.wait_for(5s), std::future_status::ready);
    done = true;
    slow.join();
}

} // namespace

namespace {

struct InjectCase {
    const char* html;
    const char* injected; // S: the style, B: the bridge script
};

TEST(InjectBridge, PutsTheBridgeBeforeThePagesFirstScriptAndTheRingIntoTheHead) {
    const InjectCase cases[] = {
        {"<html><head><script src=a.js></script></head><body></body></html>",
         "<html><head>SB<script src=a.js></script></head><body></body></html>"},
        {"<html><head><title>t</title></head><body><p>x</p><SCRIPT src=a.js></SCRIPT></body></html>",
         "<html><head><title>t</title>S</head><body><p>x</p>B<SCRIPT src=a.js></SCRIPT></body></html>"},
        {"<html><head></head><body></body></html>", "<html><head>SB</head><body></body></html>"},
        {"<html><body><script>1</script></body></html>", "<html><body>SB<script>1</script></body></html>"},
        {"<html><body></body></html>", "<html>SB<body></body></html>"},
        {"plain", "SBplain"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InjectBridge(c.html, BridgeMarkup{"S", "B"}), c.injected) << c.html;
}

} // namespace
