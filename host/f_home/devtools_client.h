#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

// A byte stream to a peer: blocking reads until the peer ends it or the
// reading is cancelled, whole writes.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Some bytes into buffer; 0 at the end of the stream or once cancelled.
    virtual size_t ReadSome(char* buffer, size_t size) = 0;
    // All of data, or false once the peer is gone.
    virtual bool WriteAll(const char* data, size_t size) = 0;
    // Makes a blocked ReadSome return 0, now and from now on.
    virtual void CancelRead() = 0;
};

// The browser's DevTools protocol over a stream: JSON messages, each ended by
// a NUL byte. Commands carry an id the reply repeats; everything else is an
// event. Events and the end of the stream are reported on the client's reader
// thread, so a handler must not wait for a reply itself.
class DevToolsClient {
public:
    using EventHandler = std::function<void(const std::string& method, const nlohmann::json& params)>;

    DevToolsClient(ByteStream& stream, EventHandler onEvent, std::function<void()> onEnd);
    ~DevToolsClient();
    DevToolsClient(const DevToolsClient&) = delete;
    DevToolsClient& operator=(const DevToolsClient&) = delete;

    // Sends method with params and waits up to wait for its reply: the reply's
    // result, or nothing with the reason (the browser's error, no reply in
    // time, the stream ended).
    std::optional<nlohmann::json> Call(const std::string& method, const nlohmann::json& params,
                                       std::chrono::milliseconds wait, std::string& error);
    bool Ended() const;

    // Longer messages are not taken (the rest up to its NUL is skipped).
    static constexpr size_t kMaxMessage = 16u << 20;

private:
    void ReadLoop();
    void Dispatch(const std::string& text);

    ByteStream& stream_;
    EventHandler onEvent_;
    std::function<void()> onEnd_;
    mutable std::mutex lock_;
    std::mutex writeLock_;
    std::condition_variable replied_;
    std::map<long long, std::optional<nlohmann::json>> waiting_; // id -> the reply once it is there
    long long nextId_ = 1;
    bool ended_ = false;
    std::thread reader_;
};
