// The instance lock on Linux: a lock file and a socket in a folder only the
// user can enter ($XDG_RUNTIME_DIR/tessaro, else /tmp/tessaro-<uid>), and the
// peer's credentials checked on every connection besides.
#include "f_home/single_instance.h"
#include "f_home/unique_fd_posix.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char kAsk = 'F';
constexpr char kAnswer = 'A';
constexpr char kEnding = 'E';
// How long a start waits for an instance that is ending (its press tasks may
// take a unit's full completion time) before it says why it cannot start.
constexpr auto kEndingWait = std::chrono::seconds(120);
constexpr auto kWaitingNotice = std::chrono::seconds(1);
constexpr int kAnswerWaitMs = 5000;

// The user's private folder for the instance files; empty with a reason when
// there is none that only the user can enter.
std::string PrivateFolder(std::string& error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime != nullptr && runtime[0] == '/'
                                   ? std::string(runtime) + "/tessaro"
                                   : "/tmp/tessaro-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = folder + ": " + std::strerror(errno);
        return std::string();
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        error = folder + ": " + std::strerror(errno);
        return std::string();
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        error = folder + " is not a folder of this user's alone (owner " + std::to_string(st.st_uid) + ", mode " +
                mode + ")";
        return std::string();
    }
    return folder;
}

bool PeerIsUs(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::getuid();
}

bool Address(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Reads until the peer closes, for at most the wait.
std::string ReadAll(int fd, int waitMs) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd wait{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
            return text;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0 || text.size() > 4096)
            return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}

} // namespace

struct SingleInstance::Impl {
    std::string socketPath;
    UniqueFd lock;
    UniqueFd listener;
    UniqueFd stopPipe[2];
    std::thread thread;
    std::atomic<bool> ending{false};
};

SingleInstance::SingleInstance(std::string identity) : identity_(std::move(identity)), impl_(std::make_unique<Impl>()) {}

SingleInstance::~SingleInstance() {
    StopListening();
}

SingleInstance::Outcome SingleInstance::Acquire(const std::function<void()>& onWaiting) {
    std::string error;
    const std::string folder = PrivateFolder(error);
    if (folder.empty())
        return {Outcome::Failed, "cannot check for a running instance: " + error};
    const std::string stem = folder + "/instance-" + IdentityHash();
    impl_->socketPath = stem + ".sock";
    sockaddr_un address{};
    if (!Address(impl_->socketPath, address))
        return {Outcome::Failed, "cannot check for a running instance: " + impl_->socketPath + " is too long"};
    // Not inherited by the browser: a browser left running must not hold the identity.
    impl_->lock.Reset(::open((stem + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!impl_->lock.ok())
        return {Outcome::Failed, "cannot check for a running instance: " + stem + ".lock: " + std::strerror(errno)};

    const auto started = std::chrono::steady_clock::now();
    const auto giveUp = started + kEndingWait;
    bool toldWaiting = false;
    while (std::chrono::steady_clock::now() < giveUp) {
        if (::flock(impl_->lock.get(), LOCK_EX | LOCK_NB) == 0) {
            ::unlink(impl_->socketPath.c_str()); // left by an instance that was killed
            impl_->listener.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (!impl_->listener.ok() ||
                ::bind(impl_->listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
                ::listen(impl_->listener.get(), 16) != 0)
                return {Outcome::Failed, "cannot serve as the instance: " + impl_->socketPath + ": " +
                                             std::strerror(errno)};
            return {Outcome::Acquired, std::string()};
        }
        UniqueFd peer(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (peer.ok() &&
            ::connect(peer.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            PeerIsUs(peer.get()) && ::write(peer.get(), &kAsk, 1) == 1) {
            const std::string answer = ReadAll(peer.get(), kAnswerWaitMs);
            if (!answer.empty() && answer[0] == kAnswer)
                return {Outcome::Answered, answer.substr(1)};
        }
        // Ending, or between taking the lock and listening: look again shortly.
        // A start racing this one is past that within a moment; longer is an
        // instance finishing its press tasks.
        if (!toldWaiting && onWaiting && std::chrono::steady_clock::now() - started >= kWaitingNotice) {
            toldWaiting = true;
            onWaiting();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return {Outcome::Failed, "an instance holds " + stem + ".lock but neither answers nor ends"};
}

void SingleInstance::Listen(std::function<std::string()> answer) {
    Impl& impl = *impl_;
    int pipeFds[2];
    if (!impl.listener.ok() || impl.thread.joinable() || ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    impl.stopPipe[0].Reset(pipeFds[0]);
    impl.stopPipe[1].Reset(pipeFds[1]);
    impl.thread = std::thread([&impl, answer = std::move(answer)] {
        for (;;) {
            pollfd fds[2] = {{impl.listener.get(), POLLIN, 0}, {impl.stopPipe[0].get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents != 0)
                return;
            if ((fds[0].revents & POLLIN) == 0)
                continue;
            UniqueFd peer(::accept4(impl.listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!peer.ok() || !PeerIsUs(peer.get()))
                continue;
            char request = 0;
            pollfd wait{peer.get(), POLLIN, 0};
            if (::poll(&wait, 1, 1000) <= 0 || ::read(peer.get(), &request, 1) != 1 || request != kAsk)
                continue;
            std::string reply = impl.ending ? std::string() : kAnswer + answer();
            if (impl.ending) // before the answer, or the answer found this instance ending
                reply = std::string(1, kEnding);
            (void)!::write(peer.get(), reply.data(), reply.size());
        }
    });
}

void SingleInstance::SetEnding() {
    impl_->ending = true;
}

void SingleInstance::StopListening() {
    Impl& impl = *impl_;
    if (impl.thread.joinable()) {
        const char stop = 0;
        (void)!::write(impl.stopPipe[1].get(), &stop, 1);
        impl.thread.join();
    }
}
