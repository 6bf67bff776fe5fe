#include "net/http_server.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "net/socket.h"

namespace {

using Clock = std::chrono::steady_clock;

// What a refused connection may still send while its answer is read: taken
// and thrown away, so that the client sees the answer and not a reset.
constexpr size_t kDrainBytes = 1u << 20;
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr size_t kReceiveChunk = 64 * 1024;

enum class Phase {
    Head,     // reading a request head
    Body,     // reading the body of a request that was let in
    Handling, // a worker has the request
    Sending,  // writing an answer
    Idle,     // between requests
    Draining, // answered and ending: what comes is thrown away
};

struct Connection {
    Socket socket;
    std::string peer;
    Phase phase = Phase::Head;
    // Has had a request let in, and its last request was not refused.
    bool admitted = false;
    bool sawByte = false; // of the head being read
    Clock::time_point opened;
    Clock::time_point deadline;
    std::string in; // received and not yet taken
    size_t searchFrom = 0;
    HttpRequest request;
    size_t bodyLength = 0;
    std::string out;
    size_t sent = 0;
    bool closeAfterSend = false;
    bool keepAlive = true;
    size_t drained = 0;
};

struct Job {
    uint64_t connection = 0;
    HttpRequest request;
};

struct Finished {
    uint64_t connection = 0;
    HttpResponse response;
    bool headOnly = false;
    bool keepAlive = false;
};

// A stream answer on a thread of its own; the socket lives as long as the thread.
struct StreamRun {
    Socket socket;
    std::string head;
    HttpResponse response;
    std::thread thread;
    std::atomic<bool> done{false};
};

// Valid Content-Length values: digits only, the same in every header.
bool ContentLength(const HttpRequest& request, size_t cap, size_t& length, int& refusal) {
    length = 0;
    const auto values = request.HeaderValues("Content-Length");
    bool first = true;
    for (const std::string& value : values) {
        if (value.empty() || value.size() > 19 || value.find_first_not_of("0123456789") != std::string::npos) {
            refusal = 400;
            return false;
        }
        const size_t parsed = std::stoull(value);
        if (!first && parsed != length) {
            refusal = 400;
            return false;
        }
        length = parsed;
        first = false;
    }
    if (length > cap) {
        refusal = 413;
        return false;
    }
    return true;
}

int Milliseconds(Clock::duration span) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(span).count();
    return ms < 0 ? 0 : ms > 1000 ? 1000 : static_cast<int>(ms) + 1;
}

} // namespace

struct HttpServer::Impl {
    Impl(Admit a, Handle h, Limits l) : admit(std::move(a)), handle(std::move(h)), limits(l) {}

    Admit admit;
    Handle handle;
    const Limits limits;
    SocketLayer layer;
    Socket listener;
    Socket wakeReader, wakeWriter;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::thread loop;

    // Loop thread only.
    std::map<uint64_t, Connection> connections;
    uint64_t lastId = 0;
    Clock::time_point acceptPausedUntil{};

    std::mutex jobLock;
    std::condition_variable jobWake;
    std::deque<Job> jobs;
    std::vector<std::thread> workers;

    std::mutex finishedLock;
    std::deque<Finished> finished;

    std::mutex streamLock;
    std::list<StreamRun> streams;

    void Wake() {
        const char byte = 1;
        wakeWriter.Send(&byte, 1); // a full line already wakes the loop
    }

    // --- the loop -----------------------------------------------------------

    void Run() {
        std::vector<PollEntry> entries;
        std::vector<uint64_t> ids;
        while (!stopping) {
            const Clock::time_point now = Clock::now();
            entries.clear();
            ids.clear();
            entries.push_back({wakeReader.Handle(), true, false});
            const bool accepting = now >= acceptPausedUntil;
            entries.push_back({listener.Handle(), accepting, false});
            Clock::time_point next = now + std::chrono::seconds(1);
            if (!accepting)
                next = std::min(next, acceptPausedUntil);
            for (auto& [id, connection] : connections) {
                const bool read = connection.phase == Phase::Head || connection.phase == Phase::Body ||
                                  connection.phase == Phase::Idle || connection.phase == Phase::Draining;
                const bool write = connection.phase == Phase::Sending;
                if (connection.phase != Phase::Handling)
                    next = std::min(next, connection.deadline);
                if (!read && !write)
                    continue;
                entries.push_back({connection.socket.Handle(), read, write});
                ids.push_back(id);
            }
            if (!Poll(entries, Milliseconds(next - now))) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            if (stopping)
                break;
            if (entries[0].readable) {
                char drain[64];
                while (wakeReader.Receive(drain, sizeof drain).status == Socket::Status::Done) {
                }
            }
            TakeFinished();
            for (size_t i = 0; i < ids.size(); ++i) {
                const PollEntry& entry = entries[i + 2];
                if (entry.readable || entry.writable)
                    Serve(ids[i], entry.readable, entry.writable);
            }
            if (entries[1].readable)
                AcceptAll();
            Expire();
            ReapStreams();
        }
        connections.clear();
    }

    void AcceptAll() {
        for (int i = 0; i < 64; ++i) {
            std::string peer;
            bool exhausted = false;
            Socket socket = listener.Accept(peer, exhausted);
            if (!socket.Valid()) {
                if (exhausted && !DropOldestWaiting())
                    acceptPausedUntil = Clock::now() + std::chrono::milliseconds(100);
                return;
            }
            const Clock::time_point now = Clock::now();
            Connection connection;
            connection.socket = std::move(socket);
            connection.peer = std::move(peer);
            connection.opened = now;
            connection.deadline = now + limits.firstByteTime;
            connections.emplace(++lastId, std::move(connection));
            while (Waiting() > limits.waitingConnections && DropOldestWaiting()) {
            }
        }
    }

    // Connections that have not shown a request that was let in.
    size_t Waiting() const {
        return static_cast<size_t>(std::count_if(connections.begin(), connections.end(), [](const auto& entry) {
            return !entry.second.admitted && entry.second.phase != Phase::Handling;
        }));
    }

    bool DropOldestWaiting() {
        auto oldest = connections.end();
        for (auto it = connections.begin(); it != connections.end(); ++it) {
            if (!it->second.admitted && it->second.phase != Phase::Handling &&
                (oldest == connections.end() || it->second.opened < oldest->second.opened))
                oldest = it;
        }
        if (oldest == connections.end())
            return false;
        connections.erase(oldest);
        return true;
    }

    // Beyond the cap of idle connections the one idle longest ends (never keep itself).
    void CloseOldestIdle(const Connection& keep) {
        size_t idle = 0;
        auto oldest = connections.end();
        for (auto it = connections.begin(); it != connections.end(); ++it) {
            if (it->second.phase != Phase::Idle)
                continue;
            ++idle;
            if (&it->second != &keep &&
                (oldest == connections.end() || it->second.deadline < oldest->second.deadline))
                oldest = it;
        }
        if (idle > limits.keptConnections && oldest != connections.end())
            connections.erase(oldest);
    }

    void Expire() {
        const Clock::time_point now = Clock::now();
        for (auto it = connections.begin(); it != connections.end();) {
            // A head, body or answer that takes too long ends its connection.
            if (it->second.phase != Phase::Handling && now >= it->second.deadline)
                it = connections.erase(it);
            else
                ++it;
        }
    }

    void Serve(uint64_t id, bool readable, bool writable) {
        auto found = connections.find(id);
        if (found == connections.end())
            return;
        Connection& connection = found->second;
        bool keep = true;
        if (writable && connection.phase == Phase::Sending)
            keep = SendMore(id, connection);
        else if (readable && connection.phase == Phase::Draining)
            keep = Drain(connection);
        else if (readable && (connection.phase == Phase::Head || connection.phase == Phase::Idle ||
                              connection.phase == Phase::Body))
            keep = ReceiveMore(id, connection);
        if (!keep)
            connections.erase(id);
    }

    // False: the connection ends.
    bool ReceiveMore(uint64_t id, Connection& connection) {
        const size_t room = connection.phase == Phase::Body
                                ? connection.bodyLength - connection.request.body.size()
                                : limits.headBytes + 1 - std::min(connection.in.size(), limits.headBytes);
        const size_t wanted = std::min(room, kReceiveChunk);
        std::string& target = connection.phase == Phase::Body ? connection.request.body : connection.in;
        const size_t before = target.size();
        target.resize(before + wanted);
        const auto got = connection.socket.Receive(target.data() + before, wanted);
        target.resize(before + got.bytes);
        if (got.status == Socket::Status::WouldBlock)
            return true;
        if (got.status != Socket::Status::Done)
            return false;
        return Progress(id, connection);
    }

    // Takes what was received as far as it goes.
    bool Progress(uint64_t id, Connection& connection) {
        const Clock::time_point now = Clock::now();
        if (connection.phase == Phase::Idle && !connection.in.empty()) {
            connection.phase = Phase::Head;
            connection.sawByte = false;
        }
        if (connection.phase == Phase::Head) {
            if (!connection.sawByte && !connection.in.empty()) {
                connection.sawByte = true;
                connection.deadline = now + limits.headTime;
            }
            const HeadReading head = ReadRequestHead(connection.in, limits.headBytes, limits.headerLines,
                                                     connection.searchFrom, connection.request);
            switch (head.outcome) {
            case HeadReading::Outcome::Incomplete:
                return true;
            case HeadReading::Outcome::Malformed:
                return Refuse(connection, HttpResponse::Status(400));
            case HeadReading::Outcome::TargetTooLong:
                return Refuse(connection, HttpResponse::Status(414));
            case HeadReading::Outcome::HeadTooLarge:
                return Refuse(connection, HttpResponse::Status(431));
            case HeadReading::Outcome::BadVersion:
                return Refuse(connection, HttpResponse::Status(505));
            case HeadReading::Outcome::Complete:
                break;
            }
            connection.in.erase(0, head.size);
            connection.searchFrom = 0;
            // Chunked request bodies are not taken: their length is not known before they are read.
            if (connection.request.HasHeader("Transfer-Encoding"))
                return Refuse(connection, HttpResponse::Status(connection.request.HasHeader("Content-Length") ? 400 : 411));
            int refusal = 400;
            if (!ContentLength(connection.request, limits.bodyBytes, connection.bodyLength, refusal))
                return Refuse(connection, HttpResponse::Status(refusal));
            connection.request.peer = connection.peer;
            std::optional<HttpResponse> refused;
            try {
                refused = admit(connection.request);
            } catch (...) {
                refused = HttpResponse::Status(500);
            }
            if (refused)
                return Refuse(connection, std::move(*refused));
            connection.admitted = true;
            connection.phase = Phase::Body;
            connection.deadline = now + limits.bodyTime;
            const size_t take = std::min(connection.in.size(), connection.bodyLength);
            connection.request.body.assign(connection.in, 0, take);
            connection.in.erase(0, take);
        }
        if (connection.phase == Phase::Body && connection.request.body.size() >= connection.bodyLength) {
            connection.phase = Phase::Handling;
            connection.keepAlive = connection.request.WantsKeepAlive();
            {
                std::lock_guard lock(jobLock);
                jobs.push_back({id, std::move(connection.request)});
            }
            connection.request = HttpRequest();
            jobWake.notify_one();
        }
        return true;
    }

    // Answers and ends the connection; the rest of the request is never read.
    bool Refuse(Connection& connection, HttpResponse response) {
        connection.admitted = false;
        connection.in.clear();
        connection.request = HttpRequest();
        response.close = true;
        response.stream = nullptr;
        return StartSending(connection, response, false, false);
    }

    bool StartSending(Connection& connection, const HttpResponse& response, bool headOnly, bool keepAlive) {
        connection.keepAlive = keepAlive && !response.close;
        connection.closeAfterSend = !connection.keepAlive;
        connection.out = ResponseHead(response, connection.keepAlive);
        if (!headOnly)
            connection.out += response.body;
        connection.sent = 0;
        connection.phase = Phase::Sending;
        connection.deadline = Clock::now() + limits.sendStall;
        return SendMore(0, connection);
    }

    bool SendMore(uint64_t id, Connection& connection) {
        while (connection.sent < connection.out.size()) {
            const auto put = connection.socket.Send(connection.out.data() + connection.sent,
                                                    connection.out.size() - connection.sent);
            if (put.status == Socket::Status::WouldBlock)
                return true;
            if (put.status != Socket::Status::Done)
                return false;
            connection.sent += put.bytes;
            connection.deadline = Clock::now() + limits.sendStall;
        }
        connection.out.clear();
        connection.out.shrink_to_fit();
        if (connection.closeAfterSend) {
            connection.socket.ShutdownSend();
            connection.phase = Phase::Draining;
            connection.drained = 0;
            connection.in.clear();
            connection.deadline = Clock::now() + kDrainTime;
            return true;
        }
        connection.phase = Phase::Idle;
        connection.searchFrom = 0;
        connection.deadline = Clock::now() + limits.keepAliveTime;
        // A request that came right behind the last one is taken at once.
        if (!connection.in.empty() && id != 0 && !Progress(id, connection))
            return false;
        if (connection.phase == Phase::Idle)
            CloseOldestIdle(connection);
        return true;
    }

    bool Drain(Connection& connection) {
        char scratch[16 * 1024];
        const auto got = connection.socket.Receive(scratch, sizeof scratch);
        if (got.status == Socket::Status::WouldBlock)
            return true;
        connection.drained += got.bytes;
        return got.status == Socket::Status::Done && connection.drained < kDrainBytes;
    }

    // Answers from the workers reach their connections.
    void TakeFinished() {
        std::deque<Finished> done;
        {
            std::lock_guard lock(finishedLock);
            done.swap(finished);
        }
        for (Finished& answer : done) {
            auto found = connections.find(answer.connection);
            if (found == connections.end()) {
                if (answer.response.streamEnded)
                    answer.response.streamEnded();
                continue;
            }
            Connection& connection = found->second;
            if (answer.response.stream) {
                StartStream(found->second, std::move(answer));
                connections.erase(found);
                continue;
            }
            if (!StartSending(connection, answer.response, answer.headOnly, answer.keepAlive))
                connections.erase(found);
            else if (connection.phase == Phase::Idle && !connection.in.empty() &&
                     !Progress(answer.connection, connection))
                connections.erase(found);
        }
    }

    // --- workers ------------------------------------------------------------

    void Work() {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(jobLock);
                jobWake.wait(lock, [&] { return stopping || !jobs.empty(); });
                if (stopping)
                    return;
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            Finished answer;
            answer.connection = job.connection;
            answer.headOnly = job.request.method == "HEAD";
            answer.keepAlive = job.request.WantsKeepAlive();
            try {
                answer.response = handle(job.request);
            } catch (...) {
                answer.response = HttpResponse::Status(500);
            }
            {
                std::lock_guard lock(finishedLock);
                finished.push_back(std::move(answer));
            }
            Wake();
        }
    }

    // --- streams ------------------------------------------------------------

    void StartStream(Connection& connection, Finished answer) {
        std::lock_guard lock(streamLock);
        const size_t running = static_cast<size_t>(
            std::count_if(streams.begin(), streams.end(), [](const StreamRun& run) { return !run.done; }));
        if (running >= limits.streams || stopping) {
            if (answer.response.streamEnded)
                answer.response.streamEnded();
            HttpResponse busy = HttpResponse::Status(503, true);
            std::string text = ResponseHead(busy, false) + busy.body;
            connection.socket.Send(text.data(), text.size());
            return;
        }
        StreamRun& run = streams.emplace_back();
        run.socket = std::move(connection.socket);
        run.head = ResponseHead(answer.response, false);
        run.response = std::move(answer.response);
        run.thread = std::thread([this, &run] { Stream(run); });
    }

    // Writes all of data, waiting while the client is slow; false when it is gone or stalls.
    bool SendAll(Socket& socket, const std::string& data) {
        size_t sent = 0;
        while (sent < data.size()) {
            const auto put = socket.Send(data.data() + sent, data.size() - sent);
            if (put.status == Socket::Status::Done) {
                sent += put.bytes;
                continue;
            }
            if (put.status != Socket::Status::WouldBlock || stopping ||
                !socket.WaitWritable(static_cast<int>(limits.sendStall.count())))
                return false;
        }
        return true;
    }

    void Stream(StreamRun& run) {
        bool ended = SendAll(run.socket, run.head);
        std::string piece;
        while (ended && !stopping) {
            piece.clear();
            bool more = false;
            try {
                more = run.response.stream(piece);
            } catch (...) {
                more = false;
            }
            if (!more || stopping)
                break;
            if (piece.empty())
                continue;
            char size[32];
            std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
            ended = SendAll(run.socket, size + piece + "\r\n");
        }
        if (ended && !stopping)
            SendAll(run.socket, "0\r\n\r\n");
        run.socket.ShutdownSend();
        if (run.response.streamEnded) {
            try {
                run.response.streamEnded();
            } catch (...) {
            }
        }
        run.done = true;
    }

    void ReapStreams() {
        std::lock_guard lock(streamLock);
        for (auto it = streams.begin(); it != streams.end();) {
            if (it->done) {
                it->thread.join();
                it = streams.erase(it);
            } else {
                ++it;
            }
        }
    }
};

HttpServer::HttpServer(Admit admit, Handle handle) : HttpServer(std::move(admit), std::move(handle), Limits()) {}

HttpServer::HttpServer(Admit admit, Handle handle, Limits limits)
    : impl_(std::make_unique<Impl>(std::move(admit), std::move(handle), limits)) {}

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Start(int port, std::string& error) {
    Impl& impl = *impl_;
    if (impl.loop.joinable()) {
        error = "the page server runs already";
        return false;
    }
    if (!impl.layer.Ready()) {
        error = "the system's sockets cannot be used";
        return false;
    }
    std::string reason;
    impl.listener = Socket::Listen(port, reason);
    if (!impl.listener.Valid()) {
        error = (port > 0 ? "port " + std::to_string(port) + " on 127.0.0.1 cannot be bound: "
                          : "no free port on 127.0.0.1: ") + reason;
        return false;
    }
    if (!Socket::Pair(impl.wakeReader, impl.wakeWriter)) {
        impl.listener.Close();
        error = "the page server cannot wait for its connections";
        return false;
    }
    impl.port = impl.listener.LocalPort();
    impl.stopping = false;
    for (size_t i = 0; i < std::max<size_t>(impl.limits.workers, 1); ++i)
        impl.workers.emplace_back([&impl] { impl.Work(); });
    impl.loop = std::thread([&impl] { impl.Run(); });
    return true;
}

int HttpServer::Port() const {
    return impl_->port;
}

void HttpServer::Stop() {
    Impl& impl = *impl_;
    {
        std::lock_guard lock(impl.jobLock);
        impl.stopping = true;
    }
    impl.jobWake.notify_all();
    if (impl.wakeWriter.Valid())
        impl.Wake();
    if (impl.loop.joinable())
        impl.loop.join();
    for (auto& worker : impl.workers)
        worker.join();
    impl.workers.clear();
    {
        std::lock_guard lock(impl.streamLock);
        for (StreamRun& run : impl.streams)
            run.socket.ShutdownBoth();
    }
    // Streams end by themselves once their source returns; none is added now.
    for (StreamRun& run : impl.streams)
        if (run.thread.joinable())
            run.thread.join();
    impl.streams.clear();
    impl.jobs.clear();
    impl.TakeFinished(); // no connection is left: a stream's end is told
    impl.listener.Close();
    impl.wakeReader.Close();
    impl.wakeWriter.Close();
}
