#include "f_home/devtools_client.h"

#include <cstring>

DevToolsClient::DevToolsClient(ByteStream& stream, EventHandler onEvent, std::function<void()> onEnd)
    : stream_(stream), onEvent_(std::move(onEvent)), onEnd_(std::move(onEnd)) {
    reader_ = std::thread([this] { ReadLoop(); });
}

DevToolsClient::~DevToolsClient() {
    stream_.CancelRead();
    if (reader_.joinable())
        reader_.join();
}

bool DevToolsClient::Ended() const {
    std::lock_guard guard(lock_);
    return ended_;
}

std::optional<nlohmann::json> DevToolsClient::Call(const std::string& method, const nlohmann::json& params,
                                                   std::chrono::milliseconds wait, std::string& error) {
    long long id = 0;
    {
        std::lock_guard guard(lock_);
        if (ended_) {
            error = "the browser's DevTools pipe has ended";
            return std::nullopt;
        }
        id = nextId_++;
        waiting_[id];
    }
    const std::string message = nlohmann::json{{"id", id}, {"method", method}, {"params", params}}.dump() + '\0';
    bool sent = false;
    {
        std::lock_guard guard(writeLock_); // one message after the other, never interleaved
        sent = stream_.WriteAll(message.data(), message.size());
    }
    std::unique_lock guard(lock_);
    const auto reply = waiting_.find(id);
    if (sent)
        replied_.wait_for(guard, wait, [&] { return reply->second.has_value() || ended_; });
    std::optional<nlohmann::json> answer = std::move(reply->second);
    waiting_.erase(reply);
    if (!answer) {
        error = !sent || ended_ ? "the browser's DevTools pipe has ended" : method + ": no reply in time";
        return std::nullopt;
    }
    if (const auto failure = answer->find("error"); failure != answer->end()) {
        error = method + ": " + (failure->is_object() ? failure->value("message", failure->dump()) : failure->dump());
        return std::nullopt;
    }
    const auto result = answer->find("result");
    return result != answer->end() ? *result : nlohmann::json::object();
}

void DevToolsClient::ReadLoop() {
    std::string message;
    bool skipping = false; // inside a message longer than kMaxMessage
    char buffer[16384];
    for (;;) {
        const size_t n = stream_.ReadSome(buffer, sizeof buffer);
        if (n == 0)
            break;
        size_t start = 0;
        while (start < n) {
            const char* end = static_cast<const char*>(std::memchr(buffer + start, '\0', n - start));
            const size_t length = (end != nullptr ? static_cast<size_t>(end - buffer) : n) - start;
            if (!skipping) {
                if (message.size() + length > kMaxMessage) {
                    skipping = true;
                    message.clear();
                } else {
                    message.append(buffer + start, length);
                }
            }
            if (end == nullptr)
                break;
            if (!skipping)
                Dispatch(message);
            message.clear();
            skipping = false;
            start += length + 1;
        }
    }
    {
        std::lock_guard guard(lock_);
        ended_ = true;
    }
    replied_.notify_all();
    if (onEnd_)
        onEnd_();
}

void DevToolsClient::Dispatch(const std::string& text) {
    nlohmann::json message = nlohmann::json::parse(text, nullptr, false);
    if (!message.is_object())
        return;
    const auto id = message.find("id");
    if (id != message.end()) {
        if (!id->is_number_integer())
            return;
        std::lock_guard guard(lock_);
        const auto waiting = waiting_.find(id->get<long long>());
        if (waiting != waiting_.end()) {
            waiting->second = std::move(message);
            replied_.notify_all();
        }
        return;
    }
    const auto method = message.find("method");
    if (method == message.end() || !method->is_string() || !onEvent_)
        return;
    const auto params = message.find("params");
    onEvent_(method->get<std::string>(), params != message.end() ? *params : nlohmann::json::object());
}
