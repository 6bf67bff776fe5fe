// The browser process on Linux: its DevTools pipe on descriptors 3 (commands
// in) and 4 (replies and events out), and the profile lock it leaves behind
// ("SingletonLock", a symbolic link to "hostname-pid").
#include "f_home/browser_process.h"
#include "f_home/unique_fd_posix.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kWriteWaitMs = 5000; // a browser that reads no commands is not waited for forever

// A pipe whose ends are above the descriptors the child takes (so mapping one
// onto 3 or 4 never overwrites the other), closed on exec in this process.
bool HighPipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    readEnd.Reset(::fcntl(fds[0], F_DUPFD_CLOEXEC, 10));
    writeEnd.Reset(::fcntl(fds[1], F_DUPFD_CLOEXEC, 10));
    ::close(fds[0]);
    ::close(fds[1]);
    return readEnd.get() >= 0 && writeEnd.get() >= 0;
}

class PosixBrowserProcess : public BrowserProcess {
public:
    PosixBrowserProcess(pid_t pid, int commands, int replies, int cancelRead, int cancelWrite)
        : pid_(pid), commands_(commands), replies_(replies), cancelRead_(cancelRead), cancelWrite_(cancelWrite) {}

    ~PosixBrowserProcess() override {
        std::lock_guard guard(lock_);
        if (!reaped_) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }

    size_t ReadSome(char* buffer, size_t size) override {
        for (;;) {
            pollfd fds[2] = {{replies_.get(), POLLIN, 0}, {cancelRead_.get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return 0;
            }
            if (fds[1].revents != 0)
                return 0;
            const ssize_t n = ::read(replies_.get(), buffer, size);
            if (n < 0 && errno == EINTR)
                continue;
            return n > 0 ? static_cast<size_t>(n) : 0;
        }
    }

    bool WriteAll(const char* data, size_t size) override {
        while (size > 0) {
            pollfd wait{commands_.get(), POLLOUT, 0};
            const int ready = ::poll(&wait, 1, kWriteWaitMs);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0 || (wait.revents & (POLLERR | POLLHUP)) != 0)
                return false;
            const ssize_t n = ::write(commands_.get(), data, size);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return false;
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    void CancelRead() override {
        const char stop = 0;
        (void)!::write(cancelWrite_.get(), &stop, 1);
    }

    bool WaitForEnd(std::chrono::milliseconds wait) override {
        const auto end = std::chrono::steady_clock::now() + wait;
        for (;;) {
            {
                std::lock_guard guard(lock_);
                if (!reaped_) {
                    int status = 0;
                    const pid_t result = ::waitpid(pid_, &status, WNOHANG);
                    reaped_ = result == pid_ || (result < 0 && errno == ECHILD);
                }
                if (reaped_)
                    return true;
            }
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void Terminate() override { Signal(SIGTERM); }
    void Kill() override { Signal(SIGKILL); }

private:
    void Signal(int signal) {
        std::lock_guard guard(lock_);
        // Not reaped yet, so the number is still this child's.
        if (!reaped_)
            ::kill(pid_, signal);
    }

    const pid_t pid_;
    UniqueFd commands_;
    UniqueFd replies_;
    UniqueFd cancelRead_;
    UniqueFd cancelWrite_;
    std::mutex lock_;
    bool reaped_ = false;
};

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SameFolder(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error);
}

// Whether process pid still runs (a zombie does not).
bool Running(pid_t pid) {
    const std::string stat = ReadFileText("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool WaitUntilGone(pid_t pid, std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    while (Running(pid)) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

} // namespace

std::unique_ptr<BrowserProcess> BrowserProcess::Start(const std::filesystem::path& program,
                                                      const std::vector<std::string>& arguments, std::string& error) {
    UniqueFd commandsRead, commandsWrite, repliesRead, repliesWrite, cancelRead, cancelWrite;
    if (!HighPipe(commandsRead, commandsWrite) || !HighPipe(repliesRead, repliesWrite) ||
        !HighPipe(cancelRead, cancelWrite)) {
        error = std::string("no pipe for the browser: ") + std::strerror(errno);
        return nullptr;
    }
    std::vector<std::string> args = {program.string(), "--remote-debugging-pipe"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, commandsRead.get(), 3);
    posix_spawn_file_actions_adddup2(&actions, repliesWrite.get(), 4);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int result = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        error = program.string() + ": " + std::strerror(result);
        return nullptr;
    }
    // Only the child keeps its ends: the browser's end of the stream is seen when it ends.
    commandsRead.Reset();
    repliesWrite.Reset();
    return std::make_unique<PosixBrowserProcess>(pid, commandsWrite.Release(), repliesRead.Release(),
                                                 cancelRead.Release(), cancelWrite.Release());
}

bool BrowserProcess::FreeProfile(const std::filesystem::path& profile, std::string& why) {
    why.clear();
    const std::string lock = (profile / "SingletonLock").string();
    char target[512];
    const ssize_t length = ::readlink(lock.c_str(), target, sizeof target - 1);
    if (length < 0)
        return true; // no lock: nobody holds the profile
    target[length] = '\0';
    const std::string holder(target, static_cast<size_t>(length));
    const size_t dash = holder.rfind('-');
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    if (dash == std::string::npos || holder.substr(0, dash) != host) {
        why = "the browser profile " + profile.string() + " is locked by " + holder + ", not a browser on this computer";
        return false;
    }
    pid_t pid = 0;
    try {
        pid = static_cast<pid_t>(std::stol(holder.substr(dash + 1)));
    } catch (...) {
        pid = 0;
    }
    const std::string proc = "/proc/" + std::to_string(pid);
    struct stat st {};
    if (pid <= 0 || ::stat(proc.c_str(), &st) != 0 || !Running(pid)) {
        // The browser that held it is gone: the lock says nothing any more.
        ::unlink(lock.c_str());
        return true;
    }
    if (st.st_uid != ::getuid()) {
        why = "the browser profile " + profile.string() + " is held by process " + std::to_string(pid) +
              " of another user";
        return false;
    }
    // Ours when it runs with this very profile folder. The instance lock is ours,
    // so the host that started it has gone.
    const std::string commandLine = ReadFileText(proc + "/cmdline");
    bool usesProfile = false;
    for (size_t start = 0; start < commandLine.size();) {
        const size_t end = std::min(commandLine.find('\0', start), commandLine.size());
        const std::string argument = commandLine.substr(start, end - start);
        const std::string prefix = "--user-data-dir=";
        if (argument.rfind(prefix, 0) == 0 && SameFolder(argument.substr(prefix.size()), profile))
            usesProfile = true;
        start = end + 1;
    }
    if (!usesProfile) {
        // Its number was taken by another program since: the lock is left over.
        ::unlink(lock.c_str());
        return true;
    }
    ::kill(pid, SIGTERM);
    if (!WaitUntilGone(pid, std::chrono::seconds(5))) {
        ::kill(pid, SIGKILL);
        if (!WaitUntilGone(pid, std::chrono::seconds(5))) {
            why = "a browser left running (process " + std::to_string(pid) + ") holds the profile " +
                  profile.string() + " and does not end";
            return false;
        }
    }
    ::unlink(lock.c_str());
    why = "ended a browser left running with the profile " + profile.string() + " (process " + std::to_string(pid) +
          ")";
    return true;
}
