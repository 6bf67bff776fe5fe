// The DevTools client against a peer of the test's own on a socket pair: the
// messages as the browser frames them (NUL-ended JSON, split or joined by the
// stream at any byte), replies matched by id, errors, events, the end.
#include "f_home/devtools_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class SocketStream : public ByteStream {
public:
    explicit SocketStream(int fd) : fd_(fd) { EXPECT_EQ(::pipe(cancel_), 0); }
    ~SocketStream() override {
        ::close(fd_);
        ::close(cancel_[0]);
        ::close(cancel_[1]);
    }
    size_t ReadSome(char* buffer, size_t size) override {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {cancel_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || fds[1].revents != 0)
            return 0;
        const ssize_t n = ::read(fd_, buffer, size);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
    bool WriteAll(const char* data, size_t size) override {
        return ::send(fd_, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
    }
    void CancelRead() override { (void)!::write(cancel_[1], "x", 1); }

private:
    int fd_;
    int cancel_[2];
};

// The browser's side: reads the commands the client sent, writes raw bytes.
class Peer {
public:
    explicit Peer(int fd) : fd_(fd) {}
    ~Peer() { Close(); }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    json NextCommand() {
        for (;;) {
            const size_t end = pending_.find('\0');
            if (end != std::string::npos) {
                json command = json::parse(pending_.substr(0, end));
                pending_.erase(0, end + 1);
                return command;
            }
            char buffer[4096];
            pollfd wait{fd_, POLLIN, 0};
            if (::poll(&wait, 1, 5000) <= 0)
                return json();
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                return json();
            pending_.append(buffer, static_cast<size_t>(n));
        }
    }
    void Write(const std::string& bytes) { ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }

private:
    int fd_;
    std::string pending_;
};

struct Rig {
    Rig() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        stream = std::make_unique<SocketStream>(fds[0]);
        peer = std::make_unique<Peer>(fds[1]);
        client = std::make_unique<DevToolsClient>(
            *stream,
            [this](const std::string& method, const json& params) {
                std::lock_guard guard(lock);
                events.emplace_back(method, params);
            },
            [this] { ended = true; });
    }
    ~Rig() { client.reset(); }
    std::vector<std::pair<std::string, json>> Events() {
        std::lock_guard guard(lock);
        return events;
    }
    std::unique_ptr<SocketStream> stream;
    std::unique_ptr<Peer> peer;
    std::unique_ptr<DevToolsClient> client;
    std::mutex lock;
    std::vector<std::pair<std::string, json>> events;
    std::atomic<bool> ended{false};
};

std::future<std::optional<json>> CallLater(Rig& rig, const std::string& method, std::string& error,
                                           std::chrono::milliseconds wait = 5000ms) {
    return std::async(std::launch::async,
                      [&rig, method, &error, wait] { return rig.client->Call(method, {{"a", 1}}, wait, error); });
}

bool WaitFor(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(DevToolsClient, CommandsAreNulEndedJsonAndRepliesFindTheirCallersByIdWhateverTheSplit) {
    Rig rig;
    std::string firstError, secondError;
    auto first = CallLater(rig, "Browser.getVersion", firstError);
    const json one = rig.peer->NextCommand();
    auto second = CallLater(rig, "Target.getTargets", secondError);
    const json two = rig.peer->NextCommand();
    EXPECT_EQ(one["method"], "Browser.getVersion");
    EXPECT_EQ(one["params"], (json{{"a", 1}}));
    EXPECT_NE(one["id"], two["id"]);
    // Replies in the other order, an event between them, cut at odd places.
    const std::string bytes = json{{"id", two["id"]}, {"result", {{"n", 2}}}}.dump() + '\0' +
                              json{{"method", "Target.targetCreated"}, {"params", {{"x", 1}}}}.dump() + '\0' +
                              json{{"id", one["id"]}, {"result", {{"n", 1}}}}.dump() + '\0';
    for (size_t at = 0; at < bytes.size(); at += 7) {
        rig.peer->Write(bytes.substr(at, 7));
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(first.get(), (json{{"n", 1}})) << firstError;
    EXPECT_EQ(second.get(), (json{{"n", 2}})) << secondError;
    ASSERT_EQ(rig.Events().size(), 1u);
    EXPECT_EQ(rig.Events()[0].first, "Target.targetCreated");
    EXPECT_EQ(rig.Events()[0].second, (json{{"x", 1}}));
}

TEST(DevToolsClient, AnErrorReplyATimeOutAndTheEndOfTheStreamEachGiveNoResultAndSayWhy) {
    Rig rig;
    std::string error;
    auto refused = CallLater(rig, "Browser.setWindowBounds", error);
    const json command = rig.peer->NextCommand();
    rig.peer->Write(json{{"id", command["id"]}, {"error", {{"code", -32000}, {"message", "no window"}}}}.dump() +
                    '\0');
    EXPECT_FALSE(refused.get().has_value());
    EXPECT_EQ(error, "Browser.setWindowBounds: no window");

    EXPECT_FALSE(rig.client->Call("Page.bringToFront", json::object(), 50ms, error).has_value());
    EXPECT_EQ(error, "Page.bringToFront: no reply in time");
    rig.peer->NextCommand();

    auto waiting = CallLater(rig, "Target.activateTarget", error, 10s);
    rig.peer->NextCommand();
    rig.peer->Close(); // the browser ended
    EXPECT_FALSE(waiting.get().has_value());
    EXPECT_EQ(error, "the browser's DevTools pipe has ended");
    EXPECT_TRUE(WaitFor([&] { return rig.ended.load(); }));
    EXPECT_TRUE(rig.client->Ended());
    EXPECT_FALSE(rig.client->Call("Browser.close", json::object(), 1s, error).has_value());
}

TEST(DevToolsClient, BrokenAndOverlongMessagesAreSkippedAndTheNextOnesStillArrive) {
    Rig rig;
    std::string overlong = "{\"method\":\"Big\",\"params\":{\"x\":\"";
    overlong.append(DevToolsClient::kMaxMessage, 'a');
    overlong += "\"}}";
    rig.peer->Write(std::string("not json") + '\0' + "[1,2]" + '\0' + "{\"id\":\"7\"}" + '\0');
    std::thread writer([&] { rig.peer->Write(overlong + '\0' + "{\"method\":\"After\"}" + '\0'); });
    EXPECT_TRUE(WaitFor([&] { return rig.Events().size() == 1; }));
    writer.join();
    ASSERT_EQ(rig.Events().size(), 1u);
    EXPECT_EQ(rig.Events()[0].first, "After");
    EXPECT_FALSE(rig.ended);
}

} // namespace
