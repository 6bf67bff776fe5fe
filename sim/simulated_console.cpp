#include "simulated_console.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace tsr::sim {

namespace {

std::int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char b[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        text += b;
    }
    return text;
}

} // namespace

SimulatedConsole::SimulatedConsole(SimOptions options)
    : options_(std::move(options)), startNs_(SteadyNs()), console_(options_.console) {
    namespace fs = std::filesystem;
    linkFolder_ = options_.linkFolder;
    if (linkFolder_.empty()) {
        std::string pattern = (fs::temp_directory_path() / "tessaro-sim-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error(std::string("press console: no temporary folder: ") +
                                     std::strerror(errno));
        linkFolder_ = pattern;
        ownFolder_ = true;
    } else {
        std::error_code ec;
        fs::create_directories(linkFolder_, ec);
    }
    std::string error;
    if (!pty_.Create(error))
        throw std::runtime_error("press console: no pseudo-terminal: " + error);
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("press console: ") + std::strerror(errno));
    console_.SetNote([this](const std::string& text) { Trace("   " + text); });
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Publish();
    }
    thread_ = std::thread([this] { Run(); });
}

SimulatedConsole::~SimulatedConsole() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    Wake();
    if (thread_.joinable())
        thread_.join();
    std::error_code ec;
    const std::string link = LinkPath();
    if (std::filesystem::is_symlink(link, ec) && std::filesystem::read_symlink(link, ec) == pty_.SlavePath())
        std::filesystem::remove(link, ec);
    pty_.Close();
    if (ownFolder_)
        std::filesystem::remove(linkFolder_, ec);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

std::string SimulatedConsole::PortName() const {
    return (options_.port >= 10 ? "\\\\.\\COM" : "COM") + std::to_string(options_.port);
}

std::string SimulatedConsole::LinkPath() const {
    return linkFolder_ + "/COM" + std::to_string(options_.port);
}

std::string SimulatedConsole::DevicePath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pty_.SlavePath();
}

std::int64_t SimulatedConsole::NowUs() const {
    return (SteadyNs() - startNs_) / 1000;
}

void SimulatedConsole::Publish() {
    std::error_code ec;
    const std::string link = LinkPath();
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(pty_.SlavePath(), link, ec);
    if (ec)
        Trace("cannot publish " + link + ": " + ec.message());
    else
        Trace("console on " + pty_.SlavePath() + " as " + link);
}

void SimulatedConsole::Trace(const std::string& line) {
    if (!options_.trace)
        return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ", static_cast<double>(NowUs()) / 1000.0);
    traceLines_.push_back(stamp + line);
}

void SimulatedConsole::Wake() {
    char b = 1;
    [[maybe_unused]] ssize_t r = ::write(wake_[1], &b, 1);
}

void SimulatedConsole::CloseDevice(const char* why) {
    if (!pty_.IsOpen())
        return;
    pty_.Close();
    ++generation_;
    hungUp_ = true;
    Trace(std::string("hang-up: ") + why);
    changed_.notify_all();
}

void SimulatedConsole::WriteOut(const Output& out) {
    if (!pty_.IsOpen())
        return;
    if (!out.bytes.empty()) {
        // Never waits: a library that does not read loses what its queue cannot hold.
        std::size_t done = 0;
        while (done < out.bytes.size()) {
            ssize_t r = ::write(pty_.Master(), out.bytes.data() + done, out.bytes.size() - done);
            if (r > 0)
                done += static_cast<std::size_t>(r);
            else if (!(r < 0 && errno == EINTR))
                break;
        }
        if (done > 0)
            record_.push_back(
                {NowUs(), false, std::vector<std::uint8_t>(out.bytes.begin(), out.bytes.begin() + done)});
        sending_.insert(sending_.end(), out.bytes.begin(), out.bytes.end());
    }
    if (out.replyEnds && !sending_.empty()) {
        Trace("-> " + Hex(sending_) + (console_.Config().pacing ? " (paced)" : ""));
        sending_.clear();
    }
}

void SimulatedConsole::ReadIn() {
    if (!pty_.IsOpen())
        return;
    std::uint8_t buffer[1024];
    for (;;) {
        const ssize_t n = ::read(pty_.Master(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        const std::int64_t now = NowUs();
        record_.push_back({now, true, std::vector<std::uint8_t>(buffer, buffer + n)});
        Trace("<- " + Hex(record_.back().bytes));
        console_.Receive(buffer, static_cast<std::size_t>(n), now);
    }
}

void SimulatedConsole::Run() {
    std::vector<std::string> lines;
    for (;;) {
        int fd = -1;
        std::int64_t waitUs = 100000;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_)
                break;
            // Back from poll: the thread holds no reference to a closed master any more.
            loopGeneration_ = generation_;
            // What came in first, so that a thread held up does not judge the
            // console's waits as run out while the bytes that end them sit unread.
            ReadIn();
            for (const Output& out : console_.Tick(NowUs())) {
                if (out.hangUp)
                    CloseDevice("on demand");
                else
                    WriteOut(out);
            }
            changed_.notify_all();
            const std::int64_t deadline = console_.NextDeadlineUs();
            if (deadline >= 0)
                waitUs = std::clamp<std::int64_t>(deadline - NowUs(), 0, waitUs);
            fd = pty_.IsOpen() ? pty_.Master() : -1;
            lines.swap(traceLines_);
        }
        for (const std::string& line : lines)
            options_.trace(line);
        lines.clear();

        // Paced bytes are due every 1.04 ms: wait to the microsecond.
        pollfd p[2] = {{wake_[0], POLLIN, 0}, {fd, POLLIN, 0}};
        const timespec wait{static_cast<time_t>(waitUs / 1000000),
                            static_cast<long>(waitUs % 1000000) * 1000};
        const int r = ::ppoll(p, fd >= 0 ? 2 : 1, &wait, nullptr);
        if (r < 0 && errno != EINTR)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (r > 0 && (p[0].revents & POLLIN)) {
            char drain[64];
            while (::read(wake_[0], drain, sizeof drain) > 0) {
            }
        }
        // A hang-up or error without input cannot happen while the pair holds
        // its own slave side; do not spin if it does.
        if (r > 0 && fd >= 0 && (p[1].revents & (POLLHUP | POLLERR)) && !(p[1].revents & POLLIN))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<RecordEntry> SimulatedConsole::Record() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return record_;
}

std::vector<std::uint8_t> SimulatedConsole::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint8_t> all;
    for (const RecordEntry& e : record_)
        if (e.received)
            all.insert(all.end(), e.bytes.begin(), e.bytes.end());
    return all;
}

std::vector<std::uint8_t> SimulatedConsole::Sent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint8_t> all;
    for (const RecordEntry& e : record_)
        if (!e.received)
            all.insert(all.end(), e.bytes.begin(), e.bytes.end());
    return all;
}

std::vector<Frame> SimulatedConsole::Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return console_.Frames();
}

bool SimulatedConsole::WaitForFrames(std::size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return console_.Frames().size() >= count; });
}

bool SimulatedConsole::WaitIdle(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return console_.Idle(); });
}

void SimulatedConsole::ClearRecord() {
    std::lock_guard<std::mutex> lock(mutex_);
    record_.clear();
    console_.ClearFrames();
}

void SimulatedConsole::AddFault(int target, const Fault& fault, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    console_.AddFault(target, fault, times);
}

void SimulatedConsole::ClearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    console_.ClearFaults();
}

UnitState SimulatedConsole::Unit(int unit) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return console_.Unit(unit);
}

void SimulatedConsole::SetUnit(int unit, const UnitState& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    console_.SetUnit(unit, state);
}

void SimulatedConsole::Update(const std::function<void(PressConsole&)>& change) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change(console_);
    }
    Wake();
}

void SimulatedConsole::Send(const std::vector<std::uint8_t>& bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        console_.SendUnasked(bytes, NowUs());
    }
    Wake();
}

void SimulatedConsole::HangUp() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        CloseDevice("by the test");
    }
    Wake();
    // The master is released only when the thread's poll lets go of it; until
    // then the library's side would not see the hang-up.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return loopGeneration_ == generation_; });
}

bool SimulatedConsole::HungUp() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hungUp_;
}

bool SimulatedConsole::Reconnect() {
    bool ok = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pty_.Close();
        ++generation_;
        std::string error;
        ok = pty_.Create(error);
        if (ok) {
            hungUp_ = false;
            Publish();
        } else {
            Trace("no new pseudo-terminal: " + error);
        }
    }
    Wake();
    return ok;
}

} // namespace tsr::sim
