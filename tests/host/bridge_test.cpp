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
            *ui.loop, WebBridge::Options{root / "htmlapp", 0, "host", {"echo", "nothing"}, {"errors"}});
        std::string error;
        ASSERT_TRUE(bridge->Start(error)) << error;
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

    httplib::Client Client() {
        httplib::Client client("127.0.0.1", bridge->Port());
        client.set_read_timeout(10, 0);
        return client;
    }
    std::string Base() const { return "/" + bridge->Secret() + "/"; }

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

    void OpenStream(StreamReader& reader) {
        reader.Start(Client(), Base() + "~host/stream");
        for (int i = 0; i < 500 && !bridge->PageConnected(); ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(bridge->PageConnected());
    }

    UiThread ui;
    FakeObject object{*ui.loop};
    FakeEvents events;
    std::unique_ptr<WebBridge> bridge;
    std::filesystem::path root;
};

TEST_F(BridgeTest, PageAddressCarriesTheSecret) {
    const std::string address = bridge->PageAddress();
    EXPECT_EQ(address,
              "http://127.0.0.1:" + std::to_string(bridge->Port()) + "/" + bridge->Secret() + "/index.html");
    EXPECT_EQ(bridge->Secret().size(), 32u);
    EXPECT_EQ(bridge->Secret().find_first_not_of("0123456789abcdef"), std::string::npos);
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
    EXPECT_NE(page->body.find("\"/" + bridge->Secret() + "/~host/\""), std::string::npos);
    EXPECT_EQ(page->body.find("<!DOCTYPE html>"), 0u);

    auto index = Client().Get(Base().c_str());
    ASSERT_TRUE(index);
    EXPECT_EQ(index->body, page->body);

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
    const std::string wrongSecret = "/" + std::string(32, '0') + "/~host/call";
    const std::vector<std::pair<std::string, std::function<httplib::Result()>>> refusals = {
        {"no secret", [&] { return post("/~host/call", {}); }},
        {"wrong secret", [&] { return post(wrongSecret, {}); }},
        {"secret as a query", [&] { return post("/~host/call?" + bridge->Secret(), {}); }},
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
        {"stream without secret", [&] { return Client().Get("/~host/stream"); }},
        {"page without secret", [&] { return Client().Get("/index.html"); }},
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

TEST_F(BridgeTest, PageCallsBeforeAPageConnectsAreDropped) {
    bridge->ExecuteJS("App.lost()");
    StreamReader reader;
    OpenStream(reader);
    bridge->ExecuteJS("App.kept()");
    ASSERT_TRUE(reader.WaitFor(1));
    bridge->Stop();
    std::lock_guard lock(reader.mutex);
    ASSERT_EQ(reader.messages.size(), 1u);
    EXPECT_EQ(reader.messages[0], json::parse(R"js({"k":"js","c":"App.kept()"})js"));
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
    newer.Start(Client(), Base() + "~host/stream");
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
          R"({"type":"console","message":[],"line":-1e300})", R"({"type":"modal","id":"x"})"}) {
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

TEST_F(BridgeTest, AModalMessageHoldsTheLoopUntilThePageClosesIt) {
    StreamReader reader;
    OpenStream(reader);
    std::atomic<bool> shown{false};
    std::thread page([&] {
        ASSERT_TRUE(reader.WaitFor(1));
        json modal;
        {
            std::lock_guard lock(reader.mutex);
            modal = reader.messages[0];
        }
        EXPECT_EQ(modal.at("k"), "modal");
        EXPECT_EQ(modal.at("text"), "Console: hello");
        // While the box is open the loop still answers calls.
        auto echo = PostCall({{"op", "echo"}, {"args", {1}}});
        EXPECT_TRUE(echo && echo->status == 200);
        EXPECT_FALSE(shown);
        Client().Post((Base() + "~host/event").c_str(),
                      json{{"type", "modal"}, {"id", modal.at("id")}}.dump(), "application/json");
    });
    ui.Run([&] {
        bridge->ShowModalMessage("Console: hello");
        shown = true;
        return 0;
    });
    page.join();
    EXPECT_TRUE(shown);
    bridge->Stop();
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
