#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/http_server.h"
#include "raw_connection.h"

namespace {

using namespace std::chrono_literals;
using Outcome = HeadReading::Outcome;

struct HeadCase {
    const char* what;
    std::string text;
    Outcome outcome;
    const char* path = "";
};

TEST(ReadRequestHead, TakesWellFormedHeadsAndSaysWhatIsWrongWithTheRest) {
    const std::string lineTooLong = "GET /" + std::string(200, 'a') + " HTTP/1.1\r\n";
    const std::string headTooLarge = "GET / HTTP/1.1\r\nX: " + std::string(200, 'b') + "\r\n";
    std::string manyHeaders = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 11; ++i)
        manyHeaders += "X: 1\r\n";
    const HeadCase cases[] = {
        {"plain", "GET /a/b.html HTTP/1.1\r\nHost: x\r\n\r\n", Outcome::Complete, "/a/b.html"},
        {"bare line feeds", "GET /a HTTP/1.1\nHost: x\n\n", Outcome::Complete, "/a"},
        {"blank lines before", "\r\n\r\nGET /a HTTP/1.0\r\n\r\n", Outcome::Complete, "/a"},
        {"escapes", "GET /%2e%2e/x%20y+z?q=1 HTTP/1.1\r\n\r\n", Outcome::Complete, "/../x y+z"},
        {"not yet ended", "GET /a HTTP/1.1\r\nHost: x\r\n", Outcome::Incomplete},
        {"nothing yet", "", Outcome::Incomplete},
        {"broken escape", "GET /%zz HTTP/1.1\r\n\r\n", Outcome::Malformed},
        {"escape cut short", "GET /%2 HTTP/1.1\r\n\r\n", Outcome::Malformed},
        {"no version", "GET /a\r\n\r\n", Outcome::Malformed},
        {"two blanks", "GET  /a HTTP/1.1\r\n\r\n", Outcome::Malformed},
        {"absolute address", "GET http://evil/a HTTP/1.1\r\n\r\n", Outcome::Malformed},
        {"not HTTP", "GET /a FTP/1.1\r\n\r\n", Outcome::Malformed},
        {"header without colon", "GET /a HTTP/1.1\r\nHost x\r\n\r\n", Outcome::Malformed},
        {"blank in a name", "GET /a HTTP/1.1\r\nHo st: x\r\n\r\n", Outcome::Malformed},
        {"folded line", "GET /a HTTP/1.1\r\nX: a\r\n b\r\n\r\n", Outcome::Malformed},
        {"control byte", std::string("GET /a HTTP/1.1\r\nX: a\x01z\r\n\r\n"), Outcome::Malformed},
        {"zero byte", std::string("GET /a HTTP/1.1\r\nX: a", 21) + std::string(1, '\0') + "\r\n\r\n", Outcome::Malformed},
        {"another version", "GET /a HTTP/2.0\r\n\r\n", Outcome::BadVersion},
        {"long request line", lineTooLong, Outcome::TargetTooLong},
        {"long header", headTooLarge, Outcome::HeadTooLarge},
        {"long header, ended", headTooLarge + "\r\n", Outcome::HeadTooLarge},
        {"too many headers", manyHeaders + "\r\n", Outcome::HeadTooLarge},
    };
    for (const HeadCase& c : cases) {
        HttpRequest request;
        size_t searchFrom = 0;
        const HeadReading whole = ReadRequestHead(c.text, 128, 10, searchFrom, request);
        EXPECT_EQ(whole.outcome, c.outcome) << c.what;
        if (c.outcome == Outcome::Complete) {
            EXPECT_EQ(request.path, c.path) << c.what;
            EXPECT_EQ(whole.size, c.text.size()) << c.what;
        }
        // Byte by byte, as a slow client sends it: the same result at the end.
        HttpRequest slow;
        size_t from = 0;
        HeadReading last;
        for (size_t n = 1; n <= c.text.size(); ++n) {
            last = ReadRequestHead(std::string_view(c.text).substr(0, n), 128, 10, from, slow);
            if (last.outcome != Outcome::Incomplete)
                break;
        }
        if (!c.text.empty()) {
            EXPECT_EQ(last.outcome, c.outcome) << c.what << " (byte by byte)";
        }
    }
}

TEST(ReadRequestHead, KeepsHeadersQueryAndWhatFollows) {
    const std::string text = "POST /call?page=ab%20c&x=1+2&empty= HTTP/1.1\r\nHost:  h:1 \r\ncookie: a=b\r\n"
                             "Cookie: c=d\r\nContent-Length: 3\r\n\r\nxyzGET";
    HttpRequest request;
    size_t from = 0;
    const HeadReading head = ReadRequestHead(text, 8192, 100, from, request);
    ASSERT_EQ(head.outcome, Outcome::Complete);
    EXPECT_EQ(text.substr(head.size), "xyzGET");
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/call?page=ab%20c&x=1+2&empty=");
    EXPECT_EQ(request.path, "/call");
    EXPECT_EQ(request.Header("host"), "h:1");
    EXPECT_EQ(request.HeaderValues("COOKIE"), (std::vector<std::string>{"a=b", "c=d"}));
    EXPECT_FALSE(request.HasHeader("Origin"));
    EXPECT_EQ(request.QueryValue("page"), "ab c");
    EXPECT_EQ(request.QueryValue("x"), "1 2");
    EXPECT_EQ(request.QueryValue("empty"), "");
    EXPECT_EQ(request.QueryValue("missing"), "");
    EXPECT_TRUE(request.WantsKeepAlive());
}

TEST(HttpRequest, KeepAliveFollowsTheVersionAndTheConnectionHeader) {
    const struct {
        int minor;
        std::vector<std::string> connection;
        bool keep;
    } cases[] = {
        {1, {}, true}, {1, {"close"}, false}, {1, {"keep-alive, Close"}, false}, {1, {"Upgrade"}, true},
        {0, {}, false}, {0, {"keep-alive"}, true}, {0, {"Keep-Alive", "close"}, false},
    };
    for (const auto& c : cases) {
        HttpRequest request;
        request.minorVersion = c.minor;
        for (const auto& value : c.connection)
            request.headers.emplace_back("Connection", value);
        EXPECT_EQ(request.WantsKeepAlive(), c.keep) << c.minor << " " << c.connection.size();
    }
}

// A server that answers every request with its path (and refuses "/no").
class ServerTest : public ::testing::Test {
protected:
    void Serve(HttpServer::Limits limits = {}) {
        server = std::make_unique<HttpServer>(
            [this](const HttpRequest& head) -> std::optional<HttpResponse> {
                ++admitted;
                if (head.path == "/no")
                    return HttpResponse::Status(403);
                return std::nullopt;
            },
            [this](const HttpRequest& request) {
                ++handled;
                if (request.path == "/throw")
                    throw std::runtime_error("broken");
                if (request.path == "/stream")
                    return Stream();
                HttpResponse response;
                response.SetContent(request.method + " " + request.path + " " + request.body, "text/plain");
                return response;
            },
            limits);
        std::string error;
        ASSERT_TRUE(server->Start(0, error)) << error;
    }
    HttpResponse Stream() {
        HttpResponse response;
        response.SetHeader("Content-Type", "text/event-stream");
        auto count = std::make_shared<int>(0);
        response.stream = [this, count](std::string& piece) {
            if (++*count > 3) {
                // The last piece waits until the test lets it go (or the server stops).
                std::unique_lock lock(mutex);
                release.wait_for(lock, 10s, [&] { return released; });
                return false;
            }
            piece = "data: " + std::to_string(*count) + "\n\n";
            return true;
        };
        response.streamEnded = [this] { ++streamsEnded; };
        return response;
    }
    void Release() {
        {
            std::lock_guard lock(mutex);
            released = true;
        }
        release.notify_all();
    }
    void TearDown() override {
        Release();
        server->Stop();
    }
    std::string Get(const std::string& path) { return "GET " + path + " HTTP/1.1\r\nHost: h\r\n\r\n"; }

    std::unique_ptr<HttpServer> server;
    std::atomic<int> admitted{0}, handled{0}, streamsEnded{0};
    std::mutex mutex;
    std::condition_variable release;
    bool released = false;
};

TEST_F(ServerTest, KeptAliveConnectionsAnswerInOrderAndCloseWhenAsked) {
    Serve();
    RawConnection client(server->Port());
    ASSERT_TRUE(client.Send(Get("/one")));
    ASSERT_TRUE(client.ReadUntil("GET /one "));
    // Two more in one write, the second with a body, then one that asks to close.
    ASSERT_TRUE(client.Send(Get("/two") + "POST /three HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody" +
                            "GET /four HTTP/1.1\r\nConnection: close\r\n\r\n"));
    EXPECT_TRUE(client.ReadUntilClosed());
    EXPECT_EQ(client.Answers(), 4u);
    const size_t two = client.received.find("GET /two "), three = client.received.find("POST /three body"),
                 four = client.received.find("GET /four ");
    ASSERT_NE(four, std::string::npos) << client.received;
    EXPECT_LT(two, three);
    EXPECT_LT(three, four);
    EXPECT_NE(client.received.find("Connection: close"), std::string::npos);

    RawConnection old(server->Port());
    ASSERT_TRUE(old.Send("GET /ten HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(old.ReadUntilClosed()); // HTTP/1.0 without keep-alive
    EXPECT_NE(old.received.find("GET /ten "), std::string::npos);
}

TEST_F(ServerTest, RefusedAndBrokenRequestsEndTheirConnection) {
    Serve();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"GET /no HTTP/1.1\r\nContent-Length: 3\r\n\r\n" + Get("/hidden"), "HTTP/1.1 403"},
        {"GET /a HTTP/1.1\r\nContent-Length: x\r\n\r\n" + Get("/hidden"), "HTTP/1.1 400"},
        {"POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n" + Get("/hidden"), "HTTP/1.1 411"},
        {"GET /throw HTTP/1.1\r\n\r\n", "HTTP/1.1 500"},
    };
    for (const auto& [request, status] : cases) {
        RawConnection client(server->Port());
        ASSERT_TRUE(client.Send(request));
        ASSERT_TRUE(client.ReadUntil(status)) << request;
        if (status != "HTTP/1.1 500") {
            EXPECT_TRUE(client.ReadUntilClosed()) << request;
            EXPECT_EQ(client.received.find("/hidden"), std::string::npos) << request;
            EXPECT_EQ(client.Answers(), 1u) << request;
        }
    }
    EXPECT_EQ(handled, 1); // only /throw reached a worker
}

// Each connection gets so long for its head, its first byte and between requests.
TEST_F(ServerTest, SlowAndIdleConnectionsAreClosed) {
    HttpServer::Limits limits;
    limits.headTime = 300ms;
    limits.firstByteTime = 300ms;
    limits.keepAliveTime = 300ms;
    Serve(limits);

    RawConnection slow(server->Port());
    const auto slowEnded = std::async(std::launch::async, [&] {
        const std::string request = Get("/slow");
        for (char c : request) {
            if (!slow.Send(std::string(1, c)) || !slow.ReadWaiting())
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return slow.ReadUntilClosed();
    });
    RawConnection silent(server->Port());
    RawConnection kept(server->Port());
    ASSERT_TRUE(kept.Send(Get("/kept")));
    ASSERT_TRUE(kept.ReadUntil("GET /kept "));
    EXPECT_TRUE(silent.ReadUntilClosed());
    EXPECT_TRUE(kept.ReadUntilClosed());
    ASSERT_EQ(slowEnded.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(slow.received.find("/slow "), std::string::npos);
}

TEST_F(ServerTest, TheOldestWaitingConnectionsAreDroppedForNewOnes) {
    HttpServer::Limits limits;
    limits.waitingConnections = 4;
    limits.keptConnections = 2;
    Serve(limits);
    // Idle kept-alive connections beyond their cap: the one idle longest ends.
    std::vector<std::unique_ptr<RawConnection>> kept;
    for (int i = 0; i < 3; ++i) {
        kept.push_back(std::make_unique<RawConnection>(server->Port()));
        ASSERT_TRUE(kept[i]->Send(Get("/kept")));
        ASSERT_TRUE(kept[i]->ReadUntil("GET /kept ")) << i;
    }
    EXPECT_TRUE(kept[0]->ReadUntilClosed(1s));
    for (int i = 1; i < 3; ++i) {
        ASSERT_TRUE(kept[i]->Send(Get("/again")));
        EXPECT_TRUE(kept[i]->ReadUntil("GET /again ")) << i;
    }

    std::vector<std::unique_ptr<RawConnection>> waiting;
    for (int i = 0; i < 8; ++i) {
        waiting.push_back(std::make_unique<RawConnection>(server->Port()));
        std::this_thread::sleep_for(20ms); // accepted in this order
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(waiting[i]->ReadUntilClosed(1s)) << i;
    for (int i = 4; i < 8; ++i) {
        EXPECT_TRUE(waiting[i]->Send(Get("/late")));
        EXPECT_TRUE(waiting[i]->ReadUntil("GET /late ")) << i;
    }
}

TEST_F(ServerTest, AStreamSendsItsPiecesInChunksAndStopEndsIt) {
    Serve();
    RawConnection client(server->Port());
    ASSERT_TRUE(client.Send(Get("/stream")));
    ASSERT_TRUE(client.ReadUntil("data: 3\n\n\r\n"));
    EXPECT_NE(client.received.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
    EXPECT_NE(client.received.find("\r\n\r\n9\r\ndata: 1\n\n\r\n9\r\ndata: 2\n\n\r\n"), std::string::npos);
    // Other requests go on meanwhile.
    RawConnection other(server->Port());
    ASSERT_TRUE(other.Send(Get("/x")));
    EXPECT_TRUE(other.ReadUntil("GET /x "));
    Release();
    EXPECT_TRUE(client.ReadUntilClosed());
    EXPECT_EQ(client.received.substr(client.received.size() - 5), "0\r\n\r\n");
    for (int i = 0; i < 100 && streamsEnded == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(streamsEnded, 1);
}

TEST_F(ServerTest, StopEndsPromptlyWithConnectionsOpen) {
    Serve();
    std::vector<std::unique_ptr<RawConnection>> open;
    for (int i = 0; i < 20; ++i)
        open.push_back(std::make_unique<RawConnection>(server->Port()));
    ASSERT_TRUE(open[0]->Send(Get("/a")));
    ASSERT_TRUE(open[0]->ReadUntil("GET /a "));
    ASSERT_TRUE(open[1]->Send("GET /b HTTP/1.1\r\nX: "));
    auto stopped = std::async(std::launch::async, [&] { server->Stop(); });
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    for (auto& connection : open)
        EXPECT_TRUE(connection->ReadUntilClosed(1s));
}

} // namespace
