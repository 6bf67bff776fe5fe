#include "f_home/chromium_window.h"

#include "app/host_paths.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

std::optional<std::filesystem::path> ChromiumWindow::FindBrowser() {
    if (const char* chosen = std::getenv("TSR_BROWSER"); chosen != nullptr && chosen[0] != '\0')
        return std::filesystem::path(chosen);
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (const char* name : {"chromium", "chromium-browser", "google-chrome"}) {
        size_t start = 0;
        while (start <= folders.size()) {
            const size_t end = std::min(folders.find(':', start), folders.size());
            const auto candidate = std::filesystem::path(folders.substr(start, end - start)) / name;
            if (end > start && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
            start = end + 1;
        }
    }
    return std::nullopt;
}

bool ChromiumWindow::DisplayAvailable() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0')
            return true;
    }
    return false;
}

ChromiumWindow::ChromiumWindow(std::filesystem::path browser, std::filesystem::path profileFolder)
    : browser_(std::move(browser)), profile_(std::move(profileFolder)) {}

ChromiumWindow::~ChromiumWindow() {
    Close();
}

bool ChromiumWindow::Open(const std::string& address, std::function<void()> onClosed, std::string& error) {
    CreatePrivateFolder(profile_); // the browser keeps the page's storage and cookies there
    std::vector<std::string> args = {browser_.string(),
                                     "--app=" + address,
                                     "--user-data-dir=" + profile_.string(),
                                     "--start-maximized",
                                     "--no-first-run",
                                     "--no-default-browser-check",
                                     "--disable-translate",
                                     "--disable-features=Translate"};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
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
        error = browser_.string() + ": " + std::strerror(result);
        return false;
    }
    {
        std::lock_guard guard(lock_);
        pid_ = pid;
        reaped_ = false;
    }
    watcher_ = std::thread([this, pid, onClosed = std::move(onClosed)] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        {
            std::lock_guard guard(lock_);
            reaped_ = true;
        }
        if (onClosed)
            onClosed();
    });
    return true;
}

void ChromiumWindow::BringToFront() {
    // The page asks its own window for the front (WebBridge::BringToFront).
}

void ChromiumWindow::Close() {
    {
        std::lock_guard guard(lock_);
        // The process is not reaped before the watcher says so, so its number is still ours.
        if (pid_ > 0 && !reaped_)
            ::kill(pid_, SIGTERM);
    }
    for (int waited = 0; waited < 50; ++waited) {
        {
            std::lock_guard guard(lock_);
            if (pid_ <= 0 || reaped_)
                break;
            if (waited == 49)
                ::kill(pid_, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (watcher_.joinable()) {
        if (watcher_.get_id() == std::this_thread::get_id())
            watcher_.detach();
        else
            watcher_.join();
    }
}
